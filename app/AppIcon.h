#pragma once
// The program icon, from the compiled-in resources.

#include <QIcon>

QIcon PelnoraIcon();
