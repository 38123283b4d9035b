#pragma once
// Persisted settings: QSettings("Velmarin", "Pelnora"); an empty section is the top level.

#include <QString>

class QComboBox;

QString ReadSettingString(const QString& section, const QString& name, const QString& fallback);
int ReadSettingInt(const QString& section, const QString& name, int fallback);
void WriteSettingString(const QString& section, const QString& name, const QString& value);
void WriteSettingInt(const QString& section, const QString& name, int value);

// Puts a stored text back into a box: selects the first entry beginning with it
// (case-insensitively); otherwise an editable box shows the text as it is and a
// list-only box keeps no selection.
void RestoreComboText(QComboBox* box, const QString& text);
