#include "tracks/CTrackProgressDlg.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimerEvent>
#include <QVBoxLayout>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <future>
#include <memory>

#include "controls/UserInterface.h"
#include "link/DeviceException.h"
#include "link/DeviceLink.h"

namespace {

const char* const kChecksumQuestion =
    "Ошибка при получении трека (контрольная сумма не совпадает).\nСохранить трек?";

QString DurationText(qint64 seconds) {
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

}  // namespace

CTrackProgressDlg::CTrackProgressDlg(DeviceLink& link, std::vector<uint32_t> indices,
                                     UserInterface& ui, QWidget* parent)
    : QDialog(parent,
              Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),  // no close box
      m_bar(new QProgressBar(this)),
      m_summary(new QLabel(this)),
      m_stopButton(new QPushButton(QStringLiteral("Остановить"), this)),
      m_link(&link),
      m_ui(ui),
      m_indices(std::move(indices)) {
    setWindowTitle(QStringLiteral("Dialog"));
    setModal(true);
    m_bar->setRange(0, 100);
    m_bar->setValue(0);
    m_bar->setTextVisible(false);
    m_bar->setMinimumSize(453, 22);
    m_stopButton->setAutoDefault(false);  // Enter must not press it
    m_stopButton->setDefault(false);
    m_summary->setMinimumWidth(300);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(11, 11, 11, 11);
    layout->addWidget(m_bar);
    auto* row = new QHBoxLayout;
    row->addWidget(m_summary, 1);
    row->addWidget(m_stopButton);
    layout->addLayout(row);
    connect(m_stopButton, &QPushButton::clicked, this, &CTrackProgressDlg::RequestStop);

    // Point counts as the table gives them; the worker never changes the records.
    for (const uint32_t index : m_indices) {
        const uint32_t points =
            index < m_link->m_tracks.size() ? m_link->m_tracks[index].PointCount() : 0;
        m_weights.push_back(points + 1);
        m_totalWeight += points + 1;
    }
    m_summary->setText(SummaryText());
}

CTrackProgressDlg::~CTrackProgressDlg() {
    m_abandoned = true;
    m_stop = true;
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void CTrackProgressDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!m_thread.joinable() && !m_finished.load()) {
        StartWorker();
    }
}

void CTrackProgressDlg::StartWorker() {
    m_finished.store(false);
    m_clock.start();
    m_thread = std::thread([this] { DownloadWorker(); });
    m_timerId = startTimer(kTickMs);
}

void CTrackProgressDlg::DownloadWorker() {
    const auto n = static_cast<unsigned>(m_indices.size());
    try {
        for (unsigned k = 0; k < n && !m_stop.load(); ++k) {
            m_current.store(k);
            const QString caption = QStringLiteral("Получение %1 трека из %2").arg(k + 1).arg(n);
            QMetaObject::invokeMethod(
                this, [this, caption] { setWindowTitle(caption); }, Qt::QueuedConnection);
            m_progressAtStart.store(m_link->m_progress.load());
            m_transferring.store(true);
            TrackEntry entry = m_link->DownloadTrack(m_indices[k]);
            m_transferring.store(false);
            if (entry.checksumOk || AskToKeep()) {
                m_received.push_back(std::move(entry));
            }
            m_doneWeight.fetch_add(m_weights[k]);
        }
    } catch (const MCommunication::LLDevException& e) {
        m_linkError = DescribeLinkFailure(e);
    } catch (const std::exception& e) {
        m_linkError = LinkFailure{e.what(), false};
    }
    // Everything above is visible to whoever sees the flag.
    m_finished.store(true, std::memory_order_release);
}

bool CTrackProgressDlg::AskToKeep() {
    auto answer = std::make_shared<std::promise<bool>>();
    std::future<bool> future = answer->get_future();
    QMetaObject::invokeMethod(
        this,
        [this, answer] {
            answer->set_value(
                m_ui.AskYesNo(QString::fromUtf8(kChecksumQuestion), UserInterface::Icon::Question));
        },
        Qt::QueuedConnection);
    while (future.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) {
        if (m_abandoned.load()) {
            return false;
        }
    }
    return future.get();
}

double CTrackProgressDlg::OverallFraction() const {
    if (m_totalWeight == 0) {
        return 1.0;
    }
    if (m_finished.load(std::memory_order_acquire)) {
        return 1.0;
    }
    double current = m_link->m_progress.load();
    if (!std::isfinite(current)) {
        current = 0.0;
    }
    current = std::clamp(current, 0.0, 1.0);
    const uint32_t k = m_current.load();
    const uint64_t done = m_doneWeight.load();
    // The fraction is not reset between tracks: it counts only once the current track has
    // moved it.
    double partial = 0.0;
    if (m_transferring.load() && k < m_weights.size() && current != m_progressAtStart.load()) {
        partial = current * (m_weights[k] - 1);
    }
    return std::clamp((static_cast<double>(done) + partial) / m_totalWeight, 0.0, 1.0);
}

QString CTrackProgressDlg::SummaryText() const {
    const double fraction = OverallFraction();
    QString text = QStringLiteral("Всего: %1 %").arg(static_cast<int>(fraction * 100.0));
    if (m_stop.load() && !m_finished.load()) {
        return text + QStringLiteral(", остановка после текущего трека…");
    }
    const qint64 elapsed = m_clock.isValid() ? m_clock.elapsed() : 0;
    if (fraction >= 1.0) {
        return text;
    }
    if (fraction < 0.005 || elapsed < 1000) {
        return text + QStringLiteral(", оставшееся время оценивается…");
    }
    const auto left =
        static_cast<qint64>(std::ceil(elapsed * (1.0 - fraction) / fraction / 1000.0));
    return text + QStringLiteral(", осталось около ") + DurationText(left);
}

void CTrackProgressDlg::RequestStop() {
    if (m_finished.load()) {
        return;
    }
    m_stop = true;
    m_stopButton->setEnabled(false);
    m_summary->setText(SummaryText());
}

void CTrackProgressDlg::reject() {
    if (!m_finished.load()) {
        RequestStop();
        return;
    }
    QDialog::reject();
}

void CTrackProgressDlg::accept() {
    if (!m_finished.load()) {
        return;
    }
    QDialog::accept();
}

void CTrackProgressDlg::closeEvent(QCloseEvent* event) {
    if (!m_finished.load()) {
        RequestStop();
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void CTrackProgressDlg::timerEvent(QTimerEvent* event) {
    if (event->timerId() == m_timerId) {
        OnTick();
    } else {
        QDialog::timerEvent(event);
    }
}

void CTrackProgressDlg::OnTick() {
    const double progress = m_link->m_progress.load();
    const double position = std::isfinite(progress) ? std::trunc(progress * 100.0) : 0.0;
    m_bar->setValue(static_cast<int>(std::clamp(position, 0.0, 100.0)));
    m_summary->setText(SummaryText());
    if (m_finished.load(std::memory_order_acquire) && !m_ending) {
        m_ending = true;
        if (m_thread.joinable()) {
            m_thread.join();  // the worker ends right after setting the flag
        }
        killTimer(m_timerId);
        m_timerId = 0;
        QDialog::done(QDialog::Accepted);
    }
}
