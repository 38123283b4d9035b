#pragma once
// The terminal page: every byte exchanged with the device as hexadecimal lines.

#include <QString>
#include <atomic>
#include <cstddef>
#include <vector>

#include "controls/CTabDialog.h"
#include "link/EchoLog.h"

class QComboBox;
class QPlainTextEdit;
class QPushButton;

// Echo-log sink of the link; renders the log into a read-only box.
class CTerminalDlg : public CTabDialog, public LogSink {
    Q_OBJECT
public:
    CTerminalDlg(DeviceLink& link, UserInterface& ui, QWidget* parent = nullptr);
    ~CTerminalDlg() override;

    // LogSink: run on the thread of the command (the interface thread or the download worker).
    void LogChunk(int32_t count, const uint8_t* data, bool received) override;
    void RefreshLog() override;

    // Empties the echo log (on disconnect); the display keeps its text until the next refresh.
    void ClearEchoLog();

    void LoadSettings() override;
    void SaveSettings() override;

    void OnClear();
    void OnBytesPerLineChanged();

    EchoLog& Log() { return m_log; }
    QString DisplayText() const;
    // The bytes-per-line value; a stored text that is not an entry counts as 16.
    int BytesPerLine() const;

    QPlainTextEdit* Display() const { return m_display; }
    // True while a large text is still going into the display (its last lines are in).
    bool Filling() const { return !m_slices.empty(); }
    // Puts every waiting slice into the display at once.
    void FinishFilling();
    QComboBox* BytesPerLineBox() const { return m_bytesPerLine; }
    QPushButton* ClearButton() const { return m_clear; }

private:
    // Runs on the interface thread: replaces the display, or appends to it.
    void ShowText(const QString& text, bool replace);
    // Inserts the next waiting slice; schedules the one after it.
    void InsertNextSlice();
    void ScrollToEnd();

    EchoLog m_log;
    // Length of the rendering already handed to the display; 0 after a clear.
    std::atomic<std::size_t> m_shownLength{0};
    std::atomic<bool> m_replaceNext{true};
    // A large text goes in as slices, last first, all at m_sliceAt (the position where the
    // text begins), one per turn of the event loop, so the window never stalls on it.
    std::vector<QString> m_slices;
    int m_sliceAt = 0;
    bool m_sliceQueued = false;
    QPlainTextEdit* m_display;
    QComboBox* m_bytesPerLine;
    QPushButton* m_clear;
};
