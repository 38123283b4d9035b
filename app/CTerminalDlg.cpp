#include "app/CTerminalDlg.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QFontDatabase>
#include <QFontInfo>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QThread>
#include <QVBoxLayout>

#include "app/CEchoView.h"
#include "controls/Settings.h"
#include "controls/UserInterface.h"
#include "link/KmlOutput.h"

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

QPushButton* Button(const QString& text, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setAutoDefault(false);
    return button;
}

}  // namespace

CTerminalDlg::CTerminalDlg(DeviceLink& link, UserInterface& ui, QWidget* parent)
    : CTabDialog(link, ui, parent),
      m_display(new CEchoView(this)),
      m_bytesPerLine(new QComboBox(this)),
      m_copy(Button(QStringLiteral("Копировать"), this)),
      m_save(Button(QStringLiteral("Сохранить…"), this)),
      m_clear(Button(QStringLiteral("Очистить"), this)) {
    m_display->setFont(LogFont());
    m_display->SetSource([this](std::size_t k) { return LineAt(k); });
    m_bytesPerLine->addItems({QStringLiteral("16"), QStringLiteral("12")});

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(new QLabel(QStringLiteral("Байт в строке:"), this));
    bottom->addWidget(m_bytesPerLine);
    bottom->addStretch(1);
    bottom->addWidget(m_copy);
    bottom->addWidget(m_save);
    bottom->addWidget(m_clear);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_display, 1);
    layout->addLayout(bottom);

    // Ctrl+Home and Ctrl+End anywhere on the page.
    auto* toStart = new QShortcut(QKeySequence::MoveToStartOfDocument, this);
    toStart->setContext(Qt::WidgetWithChildrenShortcut);
    connect(toStart, &QShortcut::activated, m_display, &CEchoView::ScrollToStart);
    auto* toEnd = new QShortcut(QKeySequence::MoveToEndOfDocument, this);
    toEnd->setContext(Qt::WidgetWithChildrenShortcut);
    connect(toEnd, &QShortcut::activated, m_display, &CEchoView::ScrollToEnd);

    connect(m_clear, &QPushButton::clicked, this, &CTerminalDlg::OnClear);
    connect(m_copy, &QPushButton::clicked, this, &CTerminalDlg::OnCopy);
    connect(m_save, &QPushButton::clicked, this, &CTerminalDlg::OnSave);
    connect(m_bytesPerLine, &QComboBox::currentIndexChanged, this,
            &CTerminalDlg::OnBytesPerLineChanged);
}

CTerminalDlg::~CTerminalDlg() = default;

void CTerminalDlg::LogChunk(int32_t count, const uint8_t* data, bool received) {
    const std::lock_guard<std::mutex> guard(m_lock);
    m_log.Append(count, data, received);
}

void CTerminalDlg::RefreshLog() {
    // The index grows here, on the command's thread; only the line count crosses over.
    std::size_t count = 0;
    {
        const std::lock_guard<std::mutex> guard(m_lock);
        m_lines.Update(m_log);
        count = m_lines.LineCount();
    }
    if (QThread::currentThread() == thread()) {
        ShowLines(count);
    } else {
        QMetaObject::invokeMethod(
            this, [this, count] { ShowLines(count); }, Qt::QueuedConnection);
    }
}

void CTerminalDlg::ShowLines(std::size_t count) {
    {
        const std::lock_guard<std::mutex> guard(m_lock);
        m_retained.reset();
        count = std::min(count, m_lines.LineCount());
    }
    m_shown = count;
    m_display->SetLineCount(count, static_cast<int>(m_lines.LineLength()));
    m_display->ScrollToEnd();  // the last bytes in view
}

std::string CTerminalDlg::LineAt(std::size_t k) const {
    const std::lock_guard<std::mutex> guard(m_lock);
    if (m_retained) {
        return m_retained->lines.Line(m_retained->log, k);
    }
    return m_lines.Line(m_log, k);
}

void CTerminalDlg::ClearEchoLog() {
    const std::lock_guard<std::mutex> guard(m_lock);
    if (!m_retained) {
        m_retained = std::make_unique<Retained>();
        m_retained->lines = m_lines;
        m_retained->log = std::move(m_log);
    }
    m_log.Clear();
    m_lines.Reset();
}

void CTerminalDlg::OnClear() {
    {
        const std::lock_guard<std::mutex> guard(m_lock);
        m_retained.reset();
    }
    m_shown = 0;
    m_display->SetLineCount(0, static_cast<int>(m_lines.LineLength()));
}

void CTerminalDlg::OnBytesPerLineChanged() {
    {
        const std::lock_guard<std::mutex> guard(m_lock);
        m_lines.SetBytesPerLine(BytesPerLine());
        m_lines.Update(m_log);
    }
    OnClear();
}

QString CTerminalDlg::LogText(const char* lineEnd) const {
    std::string text;
    const std::lock_guard<std::mutex> guard(m_lock);
    EchoLines lines(m_lines.BytesPerLine());
    lines.Update(m_log);
    lines.WriteText(m_log, lines.LineCount(), lineEnd, [&](const std::string& piece) {
        text += piece;
        return true;
    });
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

QString CTerminalDlg::DisplayText() const {
    std::string text;
    const std::lock_guard<std::mutex> guard(m_lock);
    const EchoLog& log = m_retained ? m_retained->log : m_log;
    const EchoLines& lines = m_retained ? m_retained->lines : m_lines;
    lines.WriteText(log, m_shown, "\n", [&](const std::string& piece) {
        text += piece;
        return true;
    });
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

void CTerminalDlg::OnCopy() {
    QApplication::clipboard()->setText(LogText("\n"));
}

void CTerminalDlg::OnSave() {
    const QString path = m_ui.GetSaveFileName(
        QStringLiteral("Текст (*.txt)"), QStringLiteral("txt"), QStringLiteral("терминал.txt"));
    if (path.isEmpty()) {
        return;
    }
    std::string why;
    bool written = false;
    {
        const std::lock_guard<std::mutex> guard(m_lock);
        EchoLines lines(m_lines.BytesPerLine());
        lines.Update(m_log);
        // Lines end in LF here; the writer puts CR LF into the file.
        written = WriteFileAtomically(
            QFile::encodeName(path).toStdString(),
            [&](const KmlPieceWriter& write) {
                return lines.WriteText(m_log, lines.LineCount(), "\n", write);
            },
            &why);
    }
    if (!written) {
        m_ui.ShowMessage(QStringLiteral("Не удалось записать файл %1:\n%2")
                             .arg(path, QString::fromStdString(why)),
                         UserInterface::Icon::Error);
    }
}

int CTerminalDlg::BytesPerLine() const {
    return m_bytesPerLine->currentText() == "12" ? 12 : 16;
}

std::size_t CTerminalDlg::HeldBytes() const {
    const std::lock_guard<std::mutex> guard(m_lock);
    std::size_t bytes = sizeof(*this) + m_lines.IndexBytes();
    bytes += EchoLogBytes(m_log);
    if (m_retained) {
        bytes += EchoLogBytes(m_retained->log) + m_retained->lines.IndexBytes();
    }
    return bytes;
}

void CTerminalDlg::LoadSettings() {
    const QSignalBlocker block(m_bytesPerLine);
    const QString stored =
        ReadSettingString(QStringLiteral("Terminal"), QStringLiteral("Bytes in line"), "16");
    RestoreComboText(m_bytesPerLine, stored);
    if (m_bytesPerLine->currentIndex() < 0) {
        m_bytesPerLine->setCurrentIndex(0);  // an unknown value counts as 16
    }
    const std::lock_guard<std::mutex> guard(m_lock);
    m_lines.SetBytesPerLine(BytesPerLine());
}

void CTerminalDlg::SaveSettings() {
    WriteSettingString(QStringLiteral("Terminal"), QStringLiteral("Bytes in line"),
                       m_bytesPerLine->currentText());
}
