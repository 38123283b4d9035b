#include "controls/CTabDialog.h"

#include <QLineEdit>

#include "controls/UserInterface.h"
#include "link/DeviceException.h"
#include "link/LinkFailure.h"

bool CTabDialog::ParseByteText(const QString& text, uint8_t& value) {
    int i = 0;
    const int size = int(text.size());
    while (i < size && text[i].isSpace()) {
        ++i;
    }
    if (i < size && text[i] == QLatin1Char('+')) {
        ++i;
    }
    unsigned number = 0;
    int digits = 0;
    while (i < size && text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9')) {
        number = number * 10 + unsigned(text[i].unicode() - '0');
        if (number > 255) {
            return false;
        }
        ++digits;
        ++i;
    }
    if (digits == 0) {
        return false;
    }
    value = uint8_t(number);
    return true;
}

bool CTabDialog::ExchangeByteField(QLineEdit* field, uint8_t& member, bool quiet) {
    uint8_t value = 0;
    if (!ParseByteText(field->text(), value)) {
        if (quiet) {
            return false;
        }
        m_ui.ShowMessage(QStringLiteral("Enter an integer between 0 and 255."),
                         UserInterface::Icon::None);
        field->setFocus(Qt::OtherFocusReason);
        field->selectAll();
        return false;
    }
    member = value;
    return true;
}

bool CTabDialog::ShowLinkError(const MCommunication::DeviceException& error) {
    return ShowLinkError(DescribeLinkFailure(error));
}

bool CTabDialog::ShowLinkError(const LinkFailure& failure) {
    if (failure.lineLost) {
        emit LineLost();
    }
    const std::string text = failure.lineLost ? LineLostText(failure.text) : failure.text;
    m_ui.ShowMessage(QString::fromStdString(text), UserInterface::Icon::Error);
    return failure.lineLost;
}
