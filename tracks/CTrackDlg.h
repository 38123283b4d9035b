#pragma once
// The track page: interval, table of tracks, download into KML, memory clearing.

#include <QString>
#include <cstdint>
#include <functional>

#include "controls/CTabDialog.h"

class CLabel;
class CMyListCtrl;
class CTextProgressCtrl;
class QComboBox;
class QDialog;
class QPushButton;

// The track page of the tab control.
class CTrackDlg : public CTabDialog {
    Q_OBJECT
public:
    static constexpr int32_t kMemoryRange = 100000;

    CTrackDlg(DeviceLink& link, UserInterface& ui, QWidget* parent = nullptr);
    ~CTrackDlg() override;

    void LoadSettings() override;
    void SaveSettings() override;

    // Controls, for the owner and for checks.
    QComboBox* IntervalBox() const { return m_intervalBox; }
    CMyListCtrl* List() const { return m_list; }
    CTextProgressCtrl* MemoryBar() const { return m_memoryBar; }
    CLabel* Hint() const { return m_hint; }
    QPushButton* GetTableButton() const { return m_getTableButton; }
    QPushButton* GetTrackButton() const { return m_getTrackButton; }
    QPushButton* ClearButton() const { return m_clearButton; }
    QPushButton* SendIntervalButton() const { return m_sendIntervalButton; }
    // The wait box of a table read while it is up, else nullptr.
    QDialog* WaitBox() const { return m_waitBox; }

public slots:
    void OnSendInterval();
    void OnGetTable();
    void OnGetTrack();
    void OnClearMemory();
    // The flight preview of the selected rows that were downloaded.
    void OnPreview();

private:
    void ExchangeToControls();
    void ExchangeFromControls();
    // Runs job on a worker while a small modal box with a cancel button keeps the window live;
    // cancel cuts the link's transfer short.
    void RunWithWaitBox(const QString& text, const std::function<void()>& job);

    QString m_interval;
    QComboBox* m_intervalBox;
    CMyListCtrl* m_list;
    CTextProgressCtrl* m_memoryBar;
    CLabel* m_hint;
    QPushButton* m_sendIntervalButton;
    QPushButton* m_getTableButton;
    QPushButton* m_getTrackButton;
    QPushButton* m_clearButton;
    QDialog* m_waitBox = nullptr;
};
