#pragma once
// The terminal page: every byte exchanged with the device as hexadecimal lines.

#include <QString>
#include <cstddef>
#include <memory>
#include <mutex>

#include "controls/CTabDialog.h"
#include "link/EchoLines.h"
#include "link/EchoLog.h"

class CEchoView;
class QComboBox;
class QPushButton;

// Echo-log sink of the link. The display paints the lines on screen straight from the log, so
// a download of any size is shown at once; 16 or 12 bytes a line, as the box says.
class CTerminalDlg : public CTabDialog, public LogSink {
    Q_OBJECT
public:
    CTerminalDlg(DeviceLink& link, UserInterface& ui, QWidget* parent = nullptr);
    ~CTerminalDlg() override;

    // LogSink: run on the thread of the command (the interface thread or the download worker).
    void LogChunk(int32_t count, const uint8_t* data, bool received) override;
    // Shows every line of the log, the view at its end.
    void RefreshLog() override;

    // Empties the echo log (on disconnect); the display keeps its lines until the next refresh.
    void ClearEchoLog();

    void LoadSettings() override;
    void SaveSettings() override;

    void OnClear();
    void OnBytesPerLineChanged();
    // The whole log as text at the chosen line length: to the clipboard, or into a file.
    void OnCopy();
    void OnSave();

    // The log, for reading while no command runs.
    const EchoLog& Log() const { return m_log; }
    // What the display shows, lines ended by LF.
    QString DisplayText() const;
    // The whole log as text, lines ended by lineEnd.
    QString LogText(const char* lineEnd = "\n") const;
    // The bytes-per-line value; a stored text that is not an entry counts as 16.
    int BytesPerLine() const;
    // Memory the page holds for the log and its lines.
    std::size_t HeldBytes() const;

    CEchoView* Display() const { return m_display; }
    QComboBox* BytesPerLineBox() const { return m_bytesPerLine; }
    QPushButton* ClearButton() const { return m_clear; }
    QPushButton* CopyButton() const { return m_copy; }
    QPushButton* SaveButton() const { return m_save; }

private:
    // The log and lines a disconnect emptied, shown until the next refresh.
    struct Retained {
        EchoLog log;
        EchoLines lines;
    };

    // Interface thread: show count lines of the live log, the view at the end.
    void ShowLines(std::size_t count);
    std::string LineAt(std::size_t k) const;

    // Guards the log and its lines: a download's worker appends while the display paints.
    mutable std::mutex m_lock;
    EchoLog m_log;
    EchoLines m_lines;
    std::unique_ptr<Retained> m_retained;
    std::size_t m_shown = 0;  // lines the display shows (interface thread)

    CEchoView* m_display;
    QComboBox* m_bytesPerLine;
    QPushButton* m_copy;
    QPushButton* m_save;
    QPushButton* m_clear;
};
