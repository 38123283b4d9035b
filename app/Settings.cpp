#include "controls/Settings.h"

#include <QComboBox>
#include <QSettings>

namespace {

QString Key(const QString& section, const QString& name) {
    return section.isEmpty() ? name : section + QLatin1Char('/') + name;
}

QSettings Store() {
    return QSettings(QStringLiteral("Velmarin"), QStringLiteral("Pelnora"));
}

}  // namespace

QString ReadSettingString(const QString& section, const QString& name, const QString& fallback) {
    const QVariant value = Store().value(Key(section, name));
    return value.isValid() ? value.toString() : fallback;
}

int ReadSettingInt(const QString& section, const QString& name, int fallback) {
    const QVariant value = Store().value(Key(section, name));
    if (!value.isValid()) {
        return fallback;
    }
    bool ok = false;
    const int number = value.toInt(&ok);
    return ok ? number : fallback;
}

void WriteSettingString(const QString& section, const QString& name, const QString& value) {
    Store().setValue(Key(section, name), value);
}

void WriteSettingInt(const QString& section, const QString& name, int value) {
    Store().setValue(Key(section, name), value);
}

void RestoreComboText(QComboBox* box, const QString& text) {
    for (int i = 0; i < box->count(); ++i) {
        if (box->itemText(i).startsWith(text, Qt::CaseInsensitive)) {
            box->setCurrentIndex(i);
            return;
        }
    }
    box->setCurrentIndex(-1);
    if (box->isEditable()) {
        box->setEditText(text);
    }
}
