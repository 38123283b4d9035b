#pragma once
// The modal dialog that runs one download session on a worker thread.

#include <QDialog>
#include <QElapsedTimer>
#include <cstdint>
#include <optional>
#include <thread>
#include <vector>

#include "tracks/TrackDownload.h"

class DeviceLink;
class UserInterface;
class QLabel;
class QProgressBar;
class QPushButton;

// Downloads the tracks at indices one after the other; ends by itself about a second later.
class CTrackProgressDlg : public QDialog, private TrackDownloadObserver {
    Q_OBJECT
public:
    static constexpr int kTickMs = 1000;

    CTrackProgressDlg(DeviceLink& link, std::vector<uint32_t> indices, UserInterface& ui,
                      QWidget* parent = nullptr);
    ~CTrackProgressDlg() override;

    // Stop: the first asks the session to stop after the track under way, a second cuts that
    // track short. The tracks received whole are kept.
    void RequestStop();

    // The result, read once the dialog has ended.
    const TrackDownloadResult& Result() const { return m_result; }
    // The text of a link error that ended the session.
    std::optional<QString> LinkError() const;

    // Overall share of the points handled (0..1), and the figures as text.
    double OverallFraction() const { return m_session.OverallFraction(); }
    QString SummaryText() const;
    QProgressBar* Bar() const { return m_bar; }
    QLabel* Summary() const { return m_summary; }

    void reject() override;          // Escape: stop, never end the dialog while the worker runs
    void accept() override;          // Enter: likewise
    void done(int result) override;  // only once the session has ended; takes its result

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    // The session's questions, on the worker.
    void OnTrackStarted(std::size_t k, std::size_t n) override;
    void OnTrackEnded(std::size_t k, std::size_t n) override;
    bool KeepDamagedTrack(uint32_t index) override;  // asks on the interface thread and waits

    void StartWorker();
    void Refresh();  // bar and text, on the interface thread
    void OnTick();

    TrackDownload m_session;
    TrackDownloadResult m_result;
    QProgressBar* m_bar;
    QLabel* m_summary;
    QPushButton* m_stopButton;
    DeviceLink* m_link;
    UserInterface& m_ui;
    std::thread m_thread;
    int m_timerId = 0;
    std::atomic<bool> m_abandoned{false};  // the dialog is going away: stop waiting for answers
    QElapsedTimer m_clock;
    bool m_ending = false;
};
