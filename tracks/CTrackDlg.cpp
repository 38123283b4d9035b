#include "tracks/CTrackDlg.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QFileInfo>
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

#include "controls/BusyCursor.h"
#include "controls/CLabel.h"
#include "controls/CMyListCtrl.h"
#include "controls/CTextProgressCtrl.h"
#include "controls/Settings.h"
#include "controls/UserInterface.h"
#include "link/DeviceException.h"
#include "link/DeviceLink.h"
#include "link/UserTexts.h"
#include "marks_route/SettingsRules.h"
#include "tracks/CFlightPreviewDlg.h"
#include "tracks/CTrackProgressDlg.h"
#include "tracks/TrackDownload.h"
#include "tracks/TrackFormats.h"
#include "tracks/TrackInterval.h"
#include "tracks/TrackKml.h"
#include "tracks/TrackTable.h"

namespace {

// The formats as the save dialog offers them, the track KML first.
QString TrackFormatFilters() {
    QStringList filters;
    for (const TrackFormatInfo& info : kTrackFormats) {
        filters << QString::fromStdString(TrackFormatFilter(info));
    }
    return filters.join(QStringLiteral(";;"));
}

const TrackFormatInfo& TrackFormatOfFilter(const QString& filter) {
    for (const TrackFormatInfo& info : kTrackFormats) {
        if (filter == QString::fromStdString(TrackFormatFilter(info))) {
            return info;
        }
    }
    return kTrackFormats[0];
}

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
    for (const TrackIntervalItem& item : kTrackIntervalItems) {
        m_intervalBox->addItem(QString::fromUtf8(item.text));
    }
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
    auto* preview = MakeButton(QStringLiteral("Просмотр"), 90, 24, this);  // downloaded rows
    tableButtons->addWidget(preview);
    connect(preview, &QPushButton::clicked, this, &CTrackDlg::OnPreview);
    connect(m_list, &QAbstractItemView::doubleClicked, this, &CTrackDlg::OnPreview);
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

void CTrackDlg::OnSendInterval() {
    ExchangeFromControls();
    try {
        m_link.SetTrackInterval(TrackIntervalValue(m_interval.toStdString()));
    } catch (const MCommunication::LLDevException& error) {
        ShowLinkError(error);
        return;
    }
    m_ui.ShowMessage(QString::fromUtf8(kTrackIntervalSent), UserInterface::Icon::Information);
}

void CTrackDlg::OnGetTable() {
    std::vector<TrackEntry> tracks;
    std::optional<LinkFailure> linkError;
    RunWithWaitBox(QStringLiteral("Чтение таблицы треков…"), [this, &tracks, &linkError] {
        try {
            tracks = m_link.ReadTrackTable();
        } catch (const MCommunication::LLDevException& error) {
            linkError = DescribeLinkFailure(error);
            tracks.clear();
        } catch (const std::exception& error) {
            linkError = LinkFailure{error.what(), false};
            tracks.clear();
        }
    });
    if (linkError && ShowLinkError(*linkError)) {
        return;  // the line is lost: that one box says it
    }
    if (tracks.empty()) {
        m_ui.ShowMessage(QString::fromUtf8(UserText::kNoTrackTable),
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
    const std::optional<TrackFormat> stored = TrackFormatByCliName(
        ReadSettingString(kTrackSettingsSection, kFormatSetting, QString()).toStdString());
    QString filter =
        QString::fromStdString(TrackFormatFilter(TrackFormatOf(stored.value_or(TrackFormat::Kml))));
    QString path =
        m_ui.ChooseSaveFile(TrackFormatFilters(),
                            QString::fromStdString(SuggestedTrackFileName(
                                m_link.m_tracks, rows, stored.value_or(TrackFormat::Kml))),
                            filter);
    if (path.isEmpty()) {
        return;
    }
    const TrackFormatInfo& format = TrackFormatOfFilter(filter);
    WriteSettingString(kTrackSettingsSection, kFormatSetting, QString::fromUtf8(format.cliName));
    if (format.folder) {
        // One log per track: the folder they go into.
        const QString stored =
            ReadSettingString(kTrackSettingsSection, kIgcFolderSetting, QString());
        path =
            m_ui.GetExistingDirectory(stored.isEmpty() ? QFileInfo(path).absolutePath() : stored);
        if (path.isEmpty()) {
            return;
        }
        WriteSettingString(kTrackSettingsSection, kIgcFolderSetting, path);
    }
    // The device's clock stands to UTC as the UTC page has it stored.
    const int hours = ReadSettingInt(kUtcSettingsSection, kUtcHourSetting, 0) & 0xFF;
    const int minutes = ReadSettingInt(kUtcSettingsSection, kUtcMinuteSetting, 0) & 0xFF;
    const std::optional<ClockOffset> offset = ClockOffset::Device(hours, minutes);
    if (format.format != TrackFormat::Kml && !offset) {
        const char* refusal =
            UtcOffsetRefusal(static_cast<uint8_t>(hours), static_cast<uint8_t>(minutes));
        m_ui.ShowMessage(QStringLiteral("Сдвиг времени относительно UTC на странице UTC "
                                        "неверен, треки не запрошены:\n") +
                             QString::fromUtf8(refusal != nullptr ? refusal : ""),
                         UserInterface::Icon::Error);
        return;
    }
    const std::string file = QFile::encodeName(path).toStdString();
    std::string why;
    if (!CheckTrackOutput(file, m_link.m_tracks, rows, &why, format.format)) {
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
    const std::optional<LinkFailure> failure = progress.LinkError();
    const bool lineLost = failure && failure->lineLost;
    if (failure && !lineLost) {
        ShowLinkError(*failure);
    }
    const TrackSaveOutcome outcome = SaveDownloadedTracks(
        m_link.m_tracks, result, file, format.format, offset.value_or(ClockOffset::Computer()));
    const bool written = outcome.result == KmlWriteResult::Written;
    // Only the rows of the tracks in the file stay grey.
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const bool kept = written && std::find(result.saved.begin(), result.saved.end(), rows[i]) !=
                                         result.saved.end();
        if (!kept) {
            m_list->SetItemData(static_cast<int>(rows[i]), colours[i]);
        }
    }
    QString outcomeText = QString::fromStdString(SaveOutcomeText(outcome, file));
    if (written && format.format != TrackFormat::Kml) {
        outcomeText +=
            QStringLiteral("\n") + QString::fromStdString(UtcOffsetUsedText({}, *offset));
    }
    if (lineLost) {
        // One box: the line has gone, and what of the download was kept.
        emit LineLost();
        QString text = QString::fromStdString(LineLostText(failure->text));
        if (written) {
            text += QStringLiteral("\n\n") + outcomeText;
        }
        m_ui.ShowMessage(text, UserInterface::Icon::Error);
    } else {
        m_ui.ShowMessage(outcomeText,
                         written ? UserInterface::Icon::Information : UserInterface::Icon::Error);
    }
    if (written) {
        std::vector<TrackEntry> saved;
        for (const uint32_t index : result.saved) {
            saved.push_back(m_link.m_tracks[index]);
        }
        CFlightPreviewDlg::ShowFor(this, saved);
    }
}

void CTrackDlg::OnPreview() {
    std::vector<TrackEntry> chosen;
    for (const uint32_t row : m_list->GetSelectedRows()) {
        if (row < m_link.m_tracks.size()) {
            chosen.push_back(m_link.m_tracks[row]);
        }
    }
    CFlightPreviewDlg::ShowFor(this, chosen);
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
        m_ui.ShowMessage(QString::fromUtf8(UserText::kClearFailed), UserInterface::Icon::Error);
        return;
    }
    m_list->DeleteAllItems();
    m_memoryBar->SetPos(-1);
    m_hint->hide();
}
