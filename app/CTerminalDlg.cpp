#include "app/CTerminalDlg.h"

#include <algorithm>

#include <QComboBox>
#include <QFontDatabase>
#include <QFontInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocument>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include "controls/Settings.h"

namespace {

QFont LogFont() {
    QFont font(QStringLiteral("Courier New"));
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    if (!QFontInfo(font).fixedPitch()) {
        font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    }
    font.setPixelSize(12);
    return font;
}

// Characters that go into the display in one turn of the event loop (about 20 ms).
constexpr qsizetype kSliceChars = 256 * 1024;

// The display shows lines ended by LF only.
QString DisplayForm(const char* data, std::size_t size) {
    QString text = QString::fromLatin1(data, qsizetype(size));
    text.remove(QLatin1Char('\r'));
    return text;
}

}  // namespace

CTerminalDlg::CTerminalDlg(DeviceLink& link, UserInterface& ui, QWidget* parent)
    : CTabDialog(link, ui, parent),
      m_display(new QPlainTextEdit(this)),
      m_bytesPerLine(new QComboBox(this)),
      m_clear(new QPushButton(QStringLiteral("Очистить"), this)) {
    m_display->setReadOnly(true);
    m_display->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_display->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_display->setFont(LogFont());
    m_display->setUndoRedoEnabled(false);
    m_bytesPerLine->addItems({QStringLiteral("16"), QStringLiteral("12")});

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(new QLabel(QStringLiteral("Байт в строке:"), this));
    bottom->addWidget(m_bytesPerLine);
    bottom->addStretch(1);
    bottom->addWidget(m_clear);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_display, 1);
    layout->addLayout(bottom);

    connect(m_clear, &QPushButton::clicked, this, &CTerminalDlg::OnClear);
    connect(m_bytesPerLine, &QComboBox::currentIndexChanged, this,
            &CTerminalDlg::OnBytesPerLineChanged);
}

CTerminalDlg::~CTerminalDlg() = default;

void CTerminalDlg::LogChunk(int32_t count, const uint8_t* data, bool received) {
    m_log.Append(count, data, received);
}

void CTerminalDlg::RefreshLog() {
    // Built here, on the command's thread; only the finished text crosses to the display.
    const std::string& rendered = m_log.Render();
    const std::size_t shown = m_shownLength.load();
    const bool replace = m_replaceNext.exchange(false) || shown > rendered.size();
    const std::size_t from = replace ? 0 : shown;
    QString text = DisplayForm(rendered.data() + from, rendered.size() - from);
    m_shownLength = rendered.size();
    if (QThread::currentThread() == thread()) {
        ShowText(text, replace);
    } else {
        QMetaObject::invokeMethod(
            this, [this, text = std::move(text), replace] { ShowText(text, replace); },
            Qt::QueuedConnection);
    }
}

void CTerminalDlg::ShowText(const QString& text, bool replace) {
    if (replace) {
        m_slices.clear();
        m_sliceQueued = false;
        m_display->clear();
    } else {
        FinishFilling();  // text still waiting goes in first: the display keeps the log's order
    }
    if (text.size() <= kSliceChars) {
        if (!text.isEmpty()) {
            QTextCursor cursor(m_display->document());
            cursor.movePosition(QTextCursor::End);
            cursor.insertText(text);
        }
        ScrollToEnd();
        return;
    }
    // Slices end at line ends; the last one goes in now, the others before it later.
    m_sliceAt = m_display->document()->characterCount() - 1;
    qsizetype from = 0;
    while (from < text.size()) {
        qsizetype to = std::min(text.size(), from + kSliceChars);
        if (to < text.size()) {
            const qsizetype lineEnd = text.lastIndexOf(QLatin1Char('\n'), to - 1);
            if (lineEnd >= from) {
                to = lineEnd + 1;
            }
        }
        m_slices.push_back(text.mid(from, to - from));
        from = to;
    }
    InsertNextSlice();
}

void CTerminalDlg::InsertNextSlice() {
    m_sliceQueued = false;
    if (m_slices.empty()) {
        return;
    }
    QTextCursor cursor(m_display->document());
    cursor.setPosition(m_sliceAt);
    cursor.insertText(m_slices.back());
    m_slices.pop_back();
    ScrollToEnd();
    if (!m_slices.empty()) {
        m_sliceQueued = true;
        QTimer::singleShot(0, this, [this] {
            if (m_sliceQueued) {
                InsertNextSlice();
            }
        });
    }
}

void CTerminalDlg::FinishFilling() {
    while (!m_slices.empty()) {
        InsertNextSlice();
    }
    m_sliceQueued = false;
}

void CTerminalDlg::ScrollToEnd() {
    // The user wants the last bytes in view.
    m_display->moveCursor(QTextCursor::End);
    m_display->ensureCursorVisible();
    m_display->verticalScrollBar()->setValue(m_display->verticalScrollBar()->maximum());
}

void CTerminalDlg::ClearEchoLog() {
    m_log.Clear();
    m_shownLength = 0;
    m_replaceNext = true;
}

void CTerminalDlg::OnClear() {
    m_slices.clear();
    m_sliceQueued = false;
    m_display->clear();
    m_shownLength = 0;
    m_replaceNext = true;
}

void CTerminalDlg::OnBytesPerLineChanged() {
    OnClear();
}

QString CTerminalDlg::DisplayText() const {
    QString text = m_display->toPlainText();
    if (!m_slices.empty()) {
        QString waiting;
        for (const QString& slice : m_slices) {
            waiting += slice;
        }
        text.insert(m_sliceAt, waiting);
    }
    return text;
}

int CTerminalDlg::BytesPerLine() const {
    return m_bytesPerLine->currentText() == "12" ? 12 : 16;
}

void CTerminalDlg::LoadSettings() {
    const QSignalBlocker block(m_bytesPerLine);
    const QString stored =
        ReadSettingString(QStringLiteral("Terminal"), QStringLiteral("Bytes in line"), "16");
    RestoreComboText(m_bytesPerLine, stored);
    if (m_bytesPerLine->currentIndex() < 0) {
        m_bytesPerLine->setCurrentIndex(0);  // an unknown value counts as 16
    }
}

void CTerminalDlg::SaveSettings() {
    WriteSettingString(QStringLiteral("Terminal"), QStringLiteral("Bytes in line"),
                       m_bytesPerLine->currentText());
}
