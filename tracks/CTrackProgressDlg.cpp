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
#include <string>

#include "controls/UserInterface.h"
#include "link/DeviceException.h"
#include "link/DeviceLink.h"
#include "link/UserTexts.h"

namespace {

const std::string kChecksumQuestion =
    std::string(UserText::kChecksumMismatch) + "\nСохранить трек?";

QString DurationText(qint64 seconds) {
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

}  // namespace

CTrackProgressDlg::CTrackProgressDlg(DeviceLink& link, std::vector<uint32_t> indices,
                                     UserInterface& ui, QWidget* parent)
    : QDialog(parent,
              Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),  // no close box
      m_session(link, std::move(indices)),
      m_bar(new QProgressBar(this)),
      m_summary(new QLabel(this)),
      m_stopButton(new QPushButton(QStringLiteral("Остановить"), this)),
      m_link(&link),
      m_ui(ui) {
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
    m_summary->setText(SummaryText());
}

CTrackProgressDlg::~CTrackProgressDlg() {
    m_abandoned = true;
    m_session.RequestStop();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void CTrackProgressDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!m_thread.joinable() && !m_session.Finished()) {
        StartWorker();
    }
}

void CTrackProgressDlg::StartWorker() {
    m_clock.start();
    m_thread = std::thread([this] {
        m_result = m_session.Run(*this);
        // The session publishes Finished() after its result; the text follows at once.
        QMetaObject::invokeMethod(
            this, [this] { Refresh(); }, Qt::QueuedConnection);
    });
    m_timerId = startTimer(kTickMs);
}

void CTrackProgressDlg::OnTrackStarted(std::size_t k, std::size_t n) {
    const QString caption = QStringLiteral("Получение %1 трека из %2").arg(k).arg(n);
    QMetaObject::invokeMethod(
        this,
        [this, caption] {
            setWindowTitle(caption);
            Refresh();
        },
        Qt::QueuedConnection);
}

void CTrackProgressDlg::OnTrackEnded(std::size_t, std::size_t) {
    QMetaObject::invokeMethod(
        this, [this] { Refresh(); }, Qt::QueuedConnection);
}

bool CTrackProgressDlg::KeepDamagedTrack(uint32_t) {
    auto answer = std::make_shared<std::promise<bool>>();
    std::future<bool> future = answer->get_future();
    QMetaObject::invokeMethod(
        this,
        [this, answer] {
            answer->set_value(m_ui.AskYesNo(QString::fromStdString(kChecksumQuestion),
                                            UserInterface::Icon::Question));
        },
        Qt::QueuedConnection);
    while (future.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) {
        if (m_abandoned.load()) {
            return false;
        }
    }
    return future.get();
}

std::optional<LinkFailure> CTrackProgressDlg::LinkError() const {
    if (m_result.error.empty()) {
        return std::nullopt;
    }
    return LinkFailure{m_result.error, m_result.lineLost};
}

QString CTrackProgressDlg::SummaryText() const {
    const double fraction = OverallFraction();
    QString text = QStringLiteral("Всего: %1 %").arg(static_cast<int>(fraction * 100.0));
    if (m_session.Finished() || fraction >= 1.0) {
        return text;
    }
    if (m_session.CutRequested()) {
        return text + QStringLiteral(", остановка…");
    }
    if (m_session.StopRequested()) {
        return text + QStringLiteral(", остановка после текущего трека…");
    }
    const qint64 elapsed = m_clock.isValid() ? m_clock.elapsed() : 0;
    // Nothing measured yet to estimate from.
    if (fraction < 0.005 || elapsed <= 0) {
        return text + QStringLiteral(", оставшееся время оценивается…");
    }
    const auto left =
        static_cast<qint64>(std::ceil(elapsed * (1.0 - fraction) / fraction / 1000.0));
    return text + QStringLiteral(", осталось около ") + DurationText(left);
}

void CTrackProgressDlg::RequestStop() {
    if (m_session.Finished()) {
        return;
    }
    if (m_session.StopRequested()) {
        m_session.RequestStop();
        m_stopButton->setEnabled(false);
    } else {
        m_session.RequestStopAfterTrack();
        m_stopButton->setText(QStringLiteral("Прервать"));
    }
    m_summary->setText(SummaryText());
}

void CTrackProgressDlg::reject() {
    if (!m_session.Finished()) {
        RequestStop();
        return;
    }
    QDialog::reject();
}

void CTrackProgressDlg::accept() {
    if (!m_session.Finished()) {
        return;
    }
    QDialog::accept();
}

void CTrackProgressDlg::done(int result) {
    if (!m_session.Finished()) {
        RequestStop();
        return;
    }
    if (m_thread.joinable()) {
        m_thread.join();  // the worker ends right after the session, its result in place
    }
    QDialog::done(result);
}

void CTrackProgressDlg::closeEvent(QCloseEvent* event) {
    if (!m_session.Finished()) {
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

void CTrackProgressDlg::Refresh() {
    const double progress = m_link->m_progress.load();
    const double position = std::isfinite(progress) ? std::trunc(progress * 100.0) : 0.0;
    m_bar->setValue(static_cast<int>(std::clamp(position, 0.0, 100.0)));
    m_summary->setText(SummaryText());
}

void CTrackProgressDlg::OnTick() {
    Refresh();
    if (m_session.Finished() && !m_ending) {
        m_ending = true;
        killTimer(m_timerId);
        m_timerId = 0;
        done(QDialog::Accepted);
    }
}
