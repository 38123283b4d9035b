#pragma once
// The tab strip of the main window, owner of the six pages.

#include <QWidget>
#include <array>

#include "controls/CTabDialog.h"

class QTabBar;

// Tab strip over one shared page rectangle; exactly one page is visible.
class CMyTabCtrl : public QWidget {
    Q_OBJECT
public:
    static constexpr int kPageCount = 6;
    enum PageIndex { kUtcPage, kMarksPage, kRoutePage, kTrackPage, kAnemometerPage, kTerminalPage };

    explicit CMyTabCtrl(QWidget* parent = nullptr);
    // Pages write their settings, then go in index order.
    ~CMyTabCtrl() override;

    // Takes the six page objects in tab order, as children (hidden; their settings are not
    // read yet). The owner builds them, so this control knows only their common base.
    void SetPages(const std::array<CTabDialog*, kPageCount>& pages);

    void InsertItem(int index, const QString& caption);
    // Makes a tab the focused (= selected) one; an index outside the tabs means tab 0.
    void SetCurFocus(int index);
    int GetCurFocus() const;
    // Reads the pages' settings and shows the focused tab's page, hiding the others.
    void CreatePages();

    CTabDialog* Page(int index) const { return m_tabPages.at(std::size_t(index)); }
    int CurrentTab() const { return m_currentTab; }
    QTabBar* TabBar() const { return m_bar; }
    // The shared page rectangle in this widget's coordinates.
    QRect PageRect() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void OnTabChanged(int index);
    void LayOut();

    std::array<CTabDialog*, kPageCount> m_tabPages{};
    int m_currentTab = 0;
    QTabBar* m_bar;
    bool m_pressed = false;
    bool m_pagesCreated = false;
};
