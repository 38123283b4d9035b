#pragma once
// The modal dialog that downloads the chosen tracks on a worker thread.

#include <QDialog>
#include <QElapsedTimer>
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "link/LinkFailure.h"
#include "tracks/TrackEntry.h"

class DeviceLink;
class UserInterface;
class QLabel;
class QProgressBar;
class QPushButton;

// Downloads the tracks at m_indices one after the other; ends by itself about a second later.
class CTrackProgressDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr int kTickMs = 1000;

    CTrackProgressDlg(DeviceLink& link, std::vector<uint32_t> indices, UserInterface& ui,
                      QWidget* parent = nullptr);
    ~CTrackProgressDlg() override;

    // Asks the worker to stop after the current track; what was received is kept.
    void RequestStop();
    bool StopRequested() const { return m_stop.load(); }
    bool Running() const {
        return m_thread.joinable() && !m_finished.load(std::memory_order_acquire);
    }

    // The result, read once the dialog has ended.
    const std::vector<TrackEntry>& Received() const { return m_received; }
    // The link error that stopped the worker.
    const std::optional<LinkFailure>& LinkError() const { return m_linkError; }

    // Overall share of the points handled (0..1), and the time left as text.
    double OverallFraction() const;
    QString SummaryText() const;
    QProgressBar* Bar() const { return m_bar; }

    void reject() override;  // Escape: stop, never end the dialog while the worker runs
    void accept() override;  // Enter: likewise

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    void StartWorker();
    void DownloadWorker();
    bool AskToKeep();  // on the worker: asks on the interface thread and waits
    void OnTick();

    std::vector<TrackEntry> m_received;
    QProgressBar* m_bar;
    QLabel* m_summary;
    QPushButton* m_stopButton;
    DeviceLink* m_link;
    UserInterface& m_ui;
    std::vector<uint32_t> m_indices;
    std::vector<uint32_t> m_weights;  // points of each chosen track, for the overall share
    uint64_t m_totalWeight = 0;
    std::thread m_thread;
    int m_timerId = 0;
    std::atomic<bool> m_finished{false};
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_abandoned{false};  // the dialog is going away: stop waiting for answers
    std::atomic<uint32_t> m_current{0};    // position in m_indices being handled
    std::atomic<uint64_t> m_doneWeight{0};
    std::atomic<bool> m_transferring{false};
    std::atomic<double> m_progressAtStart{0.0};
    std::optional<LinkFailure> m_linkError;
    QElapsedTimer m_clock;
    bool m_ending = false;
};
