#include "tracks/CTrackDlg.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/Settings.h"
#include "app/UserInterface.h"
#include "controls/BusyCursor.h"
#include "controls/CLabel.h"
#include "controls/CMyListCtrl.h"
#include "controls/CTextProgressCtrl.h"
#include "link/DeviceException.h"
#include "link/DeviceLink.h"
#include "tracks/CTrackProgressDlg.h"
#include "tracks/TrackDownload.h"
#include "tracks/TrackKml.h"
#include "tracks/TrackTable.h"

namespace {

const char* const kNoInterval = "Не писать трек";

QPushButton* MakeButton(const QString& text, int width, int height, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setMinimumSize(width, height);
    button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    button->setAutoDefault(false);
    return button;
}

}  // namespace

CTrackDlg::CTrackDlg(DeviceLink& link, UserInterface& ui, QWidget* parent)
    : CTabDialog(link, ui, parent),
      m_intervalBox(new QComboBox(this)),
      m_list(new CMyListCtrl(this)),
      m_memoryBar(new CTextProgressCtrl(this)),
      m_hint(new CLabel(QStringLiteral("Внимание. Для получения информации о заполнении памяти "
                                       "необходимо запросить информацию о треках."))),
      m_sendIntervalButton(MakeButton(QStringLiteral("Передать"), 80, 24, this)),
      m_getTableButton(MakeButton(QStringLiteral("Получить таблицу"), 120, 24, this)),
      m_getTrackButton(MakeButton(QStringLiteral("Получить трек"), 110, 24, this)),
      m_clearButton(MakeButton(QStringLiteral("Очистка памяти"), 146, 32, this)) {
    // Interval group.
    m_intervalBox->addItems({QStringLiteral("2 с"), QStringLiteral("3 с"), QStringLiteral("4 с"),
                             QStringLiteral("5 с"), QStringLiteral("10 с"),
                             QString::fromUtf8(kNoInterval)});
    m_intervalBox->setCurrentIndex(-1);
    m_intervalBox->setMinimumWidth(120);
    auto* intervalGroup = new QGroupBox(QStringLiteral("Временной интервал записи треков"), this);
    auto* intervalRow = new QHBoxLayout(intervalGroup);
    intervalRow->addWidget(m_intervalBox);
    intervalRow->addWidget(m_sendIntervalButton);
    intervalRow->addStretch(1);

    // Table group: the five columns of the track table.
    m_list->InsertColumn(0, QStringLiteral("№"), 40);
    m_list->InsertColumn(1, QStringLiteral("Дата"), 75);
    m_list->InsertColumn(2, QStringLiteral("Время"), 75);
    m_list->InsertColumn(3, QStringLiteral("Продолжительность"), 120);
    m_list->InsertColumn(4, QStringLiteral("Интервал"), 65);
    // Room for every column, so that no title or text is cut by the frame.
    int columnsWidth = 0;
    for (int column = 0; column < m_list->GetColumnCount(); ++column) {
        columnsWidth += m_list->GetColumnWidth(column);
    }
    const int listWidth = columnsWidth + 2 * m_list->frameWidth() +
                          m_list->style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 2;
    m_list->setMinimumSize(std::max(396, listWidth), 166);
    auto* tableGroup = new QGroupBox(QStringLiteral("Информация о треках"), this);
    auto* tableLayout = new QVBoxLayout(tableGroup);
    tableLayout->addWidget(m_list, 1);
    auto* tableButtons = new QHBoxLayout;
    tableButtons->addWidget(m_getTableButton);
    tableButtons->addWidget(m_getTrackButton);
    tableButtons->addStretch(1);
    tableLayout->addLayout(tableButtons);

    // Memory group: the notice lies over the bar until a table has been read.
    m_memoryBar->setMinimumSize(388, 40);
    m_memoryBar->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    auto* hintLayout = new QHBoxLayout(m_memoryBar);
    hintLayout->setContentsMargins(8, 3, 8, 2);
    m_hint->setParent(m_memoryBar);
    m_hint->setAlignment(Qt::AlignHCenter | Qt::AlignTop);  // centred lines, wrapped
    m_hint->setWordWrap(true);
    m_hint->SetTransparentBackground(true);
    hintLayout->addWidget(m_hint);
    auto* memoryGroup = new QGroupBox(QStringLiteral("Заполнение памяти"), this);
    auto* memoryLayout = new QVBoxLayout(memoryGroup);
    memoryLayout->addWidget(m_memoryBar);
    auto* clearRow = new QHBoxLayout;
    clearRow->addStretch(1);
    clearRow->addWidget(m_clearButton);
    clearRow->addStretch(1);
    memoryLayout->addLayout(clearRow);

    auto* page = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    top->addWidget(intervalGroup);
    top->addStretch(1);
    page->addLayout(top);
    page->addWidget(tableGroup, 1);
    page->addWidget(memoryGroup);
    page->addStretch(0);

    // The percentage stays invisible over the unfilled bar until a table has been read.
    m_memoryBar->SetBarColour(QColor(0, 200, 60));
    m_memoryBar->SetTextColour(m_memoryBar->GetBkColour());
    m_memoryBar->SetRange32(0, kMemoryRange);

    connect(m_sendIntervalButton, &QPushButton::clicked, this, &CTrackDlg::OnSendInterval);
    connect(m_getTableButton, &QPushButton::clicked, this, &CTrackDlg::OnGetTable);
    connect(m_getTrackButton, &QPushButton::clicked, this, &CTrackDlg::OnGetTrack);
    connect(m_clearButton, &QPushButton::clicked, this, &CTrackDlg::OnClearMemory);
}

CTrackDlg::~CTrackDlg() = default;

void CTrackDlg::LoadSettings() {
    m_interval =
        ReadSettingString(QStringLiteral("Track"), QStringLiteral("Interval"), QStringLiteral("2"));
    ExchangeToControls();
}

void CTrackDlg::SaveSettings() {
    ExchangeFromControls();
    WriteSettingString(QStringLiteral("Track"), QStringLiteral("Interval"), m_interval);
}

void CTrackDlg::ExchangeToControls() {
    RestoreComboText(m_intervalBox, m_interval);
}

void CTrackDlg::ExchangeFromControls() {
    m_interval = m_intervalBox->currentIndex() >= 0 ? m_intervalBox->currentText() : QString();
}

uint8_t CTrackDlg::IntervalValue(const QString& text) {
    const QString number = text == QString::fromUtf8(kNoInterval) ? QStringLiteral("128") : text;
    // The leading number as wcstol reads it: blanks, a sign, digits; 0 when there are none.
    qsizetype i = 0;
    while (i < number.size() && number[i].isSpace()) {
        ++i;
    }
    bool negative = false;
    if (i < number.size() && (number[i] == QLatin1Char('+') || number[i] == QLatin1Char('-'))) {
        negative = number[i] == QLatin1Char('-');
        ++i;
    }
    int64_t value = 0;
    for (; i < number.size() && number[i] >= QLatin1Char('0') && number[i] <= QLatin1Char('9');
         ++i) {
        value = std::min<int64_t>(value * 10 + (number[i].unicode() - '0'),
                                  std::numeric_limits<int32_t>::max() + int64_t{1});
    }
    if (negative) {
        value = -value;
    }
    value = std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                std::numeric_limits<int32_t>::max());
    return static_cast<uint8_t>(static_cast<uint64_t>(value) & 0xFF);
}

void CTrackDlg::OnSendInterval() {
    ExchangeFromControls();
    try {
        m_link.SetTrackInterval(IntervalValue(m_interval));
    } catch (const MCommunication::LLDevException& error) {
        ShowLinkError(error);
        return;
    }
    m_ui.ShowMessage(QStringLiteral("Временной интервал передан успешно"),
                     UserInterface::Icon::Information);
}

void CTrackDlg::OnGetTable() {
    std::vector<TrackEntry> tracks;
    std::optional<QString> linkError;
    RunWithWaitBox(QStringLiteral("Чтение таблицы треков…"), [this, &tracks, &linkError] {
        try {
            tracks = m_link.ReadTrackTable();
        } catch (const MCommunication::LLDevException& error) {
            linkError = QString::fromStdString(MCommunication::ErrorText(error));
            tracks.clear();
        } catch (const std::exception& error) {
            linkError = QString::fromLocal8Bit(error.what());
            tracks.clear();
        }
    });
    if (linkError) {
        m_ui.ShowMessage(*linkError, UserInterface::Icon::Error);
    }
    if (tracks.empty()) {
        m_ui.ShowMessage(QStringLiteral("Не удалось получить информацию о треках"),
                         UserInterface::Icon::Information);
        return;
    }
    m_list->DeleteAllItems();
    for (uint32_t j = 0; j < tracks.size(); ++j) {
        const std::array<std::string, 5> texts = TrackRowTexts(tracks[j], j);
        const int row = m_list->InsertItem(static_cast<int>(j), QString::fromStdString(texts[0]));
        for (int column = 1; column < 5; ++column) {
            m_list->SetItemText(row, column, QString::fromStdString(texts[column]));
        }
    }
    const double fill = MemoryFillPercent(tracks.back());
    m_memoryBar->SetTextColour(palette().color(QPalette::WindowText));
    m_memoryBar->SetPos(static_cast<int32_t>(std::trunc(fill * 1000.0)));
    m_hint->hide();
}

void CTrackDlg::RunWithWaitBox(const QString& text, const std::function<void()>& job) {
    QDialog box(this, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    box.setWindowTitle(kProgramName);
    box.setModal(true);
    auto* label = new QLabel(text, &box);
    auto* cancel = new QPushButton(QStringLiteral("Отмена"), &box);
    cancel->setAutoDefault(false);
    auto* layout = new QVBoxLayout(&box);
    layout->addWidget(label);
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(cancel);
    row->addStretch(1);
    layout->addLayout(row);

    std::atomic<bool> done{false};
    const auto stop = [this, cancel] {
        SetLinkCancel(m_link, true);
        cancel->setEnabled(false);
    };
    connect(cancel, &QPushButton::clicked, &box, stop);
    // Escape cuts the read short too; the box comes back until the worker has ended.
    connect(&box, &QDialog::rejected, &box, [&done, stop] {
        if (!done.load()) {
            stop();
        }
    });
    m_waitBox = &box;
    SetLinkCancel(m_link, false);
    std::thread worker([&] {
        job();
        done.store(true);
        QMetaObject::invokeMethod(
            &box, [&box] { box.accept(); }, Qt::QueuedConnection);
    });
    while (!done.load()) {
        box.exec();
    }
    worker.join();
    SetLinkCancel(m_link, false);
    m_waitBox = nullptr;
}

void CTrackDlg::OnGetTrack() {
    const std::vector<uint32_t> rows = m_list->GetSelectedRows();
    if (rows.empty()) {
        return;
    }
    const QString path = m_ui.GetSaveFileName(kKmlFilter, QStringLiteral("kml"));
    if (path.isEmpty()) {
        return;
    }
    const std::string file = QFile::encodeName(path).toStdString();
    std::string why;
    if (!CheckTrackOutput(file, m_link.m_tracks, rows, &why)) {
        m_ui.ShowMessage(QString::fromStdString(OutputRefusedText(why)),
                         UserInterface::Icon::Error);
        return;
    }
    std::vector<uint32_t> colours;
    for (const uint32_t row : rows) {
        colours.push_back(m_list->GetItemData(static_cast<int>(row)));
        m_list->SetItemData(static_cast<int>(row), CMyListCtrl::kDoneRowColour);
    }
    CTrackProgressDlg progress(m_link, rows, m_ui, this);
    progress.exec();
    const TrackDownloadResult& result = progress.Result();
    if (progress.LinkError()) {
        m_ui.ShowMessage(*progress.LinkError(), UserInterface::Icon::Error);
    }
    const TrackSaveOutcome outcome = SaveDownloadedTracks(m_link.m_tracks, result, file);
    // Only the rows of the tracks in the file stay grey.
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const bool kept =
            outcome.result == KmlWriteResult::Written &&
            std::find(result.saved.begin(), result.saved.end(), rows[i]) != result.saved.end();
        if (!kept) {
            m_list->SetItemData(static_cast<int>(rows[i]), colours[i]);
        }
    }
    m_ui.ShowMessage(QString::fromStdString(SaveOutcomeText(outcome, file)),
                     outcome.result == KmlWriteResult::Written ? UserInterface::Icon::Information
                                                               : UserInterface::Icon::Error);
}

void CTrackDlg::OnClearMemory() {
    if (!m_ui.AskYesNo(QStringLiteral("Все треки, записанные в приборе, будут удалены без "
                                      "возможности восстановления.\nОчистить память треков?"),
                       UserInterface::Icon::Warning)) {
        return;
    }
    bool cleared = false;
    try {
        BusyCursor busy;
        cleared = m_link.ClearTrackMemory();
    } catch (const MCommunication::LLDevException& error) {
        ShowLinkError(error);
        return;
    }
    if (!cleared) {
        m_ui.ShowMessage(QStringLiteral("Не удалось очистить память"), UserInterface::Icon::Error);
        return;
    }
    m_list->DeleteAllItems();
    m_memoryBar->SetPos(-1);
    m_hint->hide();
}
