#pragma once
// Persisted settings: QSettings("Velmarin", "Pelnora"); an empty section is the top level.

#include <QString>

class QComboBox;

QString ReadSettingString(const QString& section, const QString& name, const QString& fallback);
int ReadSettingInt(const QString& section, const QString& name, int fallback);
void WriteSettingString(const QString& section, const QString& name, const QString& value);
void WriteSettingInt(const QString& section, const QString& name, int value);

// The UTC page's stored offset of the device's clock (hours, minutes); the track page reads it
// for the times of the formats that carry them.
inline const QString kUtcSettingsSection = QStringLiteral("UTC Time");
inline const QString kUtcHourSetting = QStringLiteral("Hour");
inline const QString kUtcMinuteSetting = QStringLiteral("Minute");

// The format last chosen in the track and marks save dialogs (its --format name), and the
// folder last chosen for IGC logs.
inline const QString kTrackSettingsSection = QStringLiteral("Track");
inline const QString kMarksSettingsSection = QStringLiteral("Marks");
inline const QString kFormatSetting = QStringLiteral("Format");
inline const QString kIgcFolderSetting = QStringLiteral("IGC folder");

// Puts a stored text back into a box: selects the first entry beginning with it
// (case-insensitively); otherwise an editable box shows the text as it is and a
// list-only box keeps no selection.
void RestoreComboText(QComboBox* box, const QString& text);
