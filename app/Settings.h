#pragma once
// Persisted settings: QSettings("Velmarin", "Pelnora"); an empty section is the top level.

#include <QString>

QString ReadSettingString(const QString& section, const QString& name, const QString& fallback);
int ReadSettingInt(const QString& section, const QString& name, int fallback);
void WriteSettingString(const QString& section, const QString& name, const QString& value);
void WriteSettingInt(const QString& section, const QString& name, int value);
