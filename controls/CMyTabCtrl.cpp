#include "controls/CMyTabCtrl.h"

#include <QMouseEvent>
#include <QStyleOptionTabWidgetFrame>
#include <QStylePainter>
#include <QTabBar>

namespace {
constexpr int kPageMargin = 2;  // inside the frame line
}

CMyTabCtrl::CMyTabCtrl(QWidget* parent) : QWidget(parent), m_bar(new QTabBar(this)) {
    m_bar->setDrawBase(false);
    m_bar->setExpanding(false);
    // A press switches with the focus going to the page; the keyboard leaves it on the strip.
    m_bar->installEventFilter(this);
    connect(m_bar, &QTabBar::currentChanged, this, &CMyTabCtrl::OnTabChanged);
}

void CMyTabCtrl::SetPages(const std::array<CTabDialog*, kPageCount>& pages) {
    m_tabPages = pages;
    for (CTabDialog* page : m_tabPages) {
        page->setParent(this);
        page->setAutoFillBackground(true);  // the dialog face, as under a label
        page->hide();
    }
}

CMyTabCtrl::~CMyTabCtrl() {
    for (CTabDialog*& page : m_tabPages) {
        if (page != nullptr) {
            if (m_pagesCreated) {
                page->SaveSettings();
            }
            delete page;
            page = nullptr;
        }
    }
}

bool CMyTabCtrl::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_bar) {
        if (event->type() == QEvent::MouseButtonPress) {
            m_pressed = static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton;
        } else if (event->type() == QEvent::MouseButtonRelease) {
            m_pressed = false;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void CMyTabCtrl::InsertItem(int index, const QString& caption) {
    m_bar->insertTab(index, caption);
}

void CMyTabCtrl::SetCurFocus(int index) {
    if (index < 0 || index >= m_bar->count()) {
        index = 0;
    }
    m_bar->setCurrentIndex(index);
}

int CMyTabCtrl::GetCurFocus() const {
    return m_bar->currentIndex();
}

void CMyTabCtrl::CreatePages() {
    for (CTabDialog* page : m_tabPages) {
        page->LoadSettings();
    }
    m_pagesCreated = true;
    m_currentTab = 0;
    const int focused = GetCurFocus();
    for (int i = 0; i < kPageCount; ++i) {
        if (i == focused) {
            m_currentTab = i;
        }
    }
    LayOut();
    for (int i = 0; i < kPageCount; ++i) {
        m_tabPages[std::size_t(i)]->setVisible(i == m_currentTab);
    }
    m_tabPages[std::size_t(m_currentTab)]->raise();
}

void CMyTabCtrl::OnTabChanged(int index) {
    const bool pressed = m_pressed;
    m_pressed = false;
    if (!m_pagesCreated || index < 0 || index >= kPageCount || index == m_currentTab) {
        return;
    }
    m_tabPages[std::size_t(m_currentTab)]->hide();
    m_currentTab = index;
    CTabDialog* page = m_tabPages[std::size_t(index)];
    page->show();
    if (pressed) {
        page->setFocus(Qt::MouseFocusReason);
        if (QWidget* first = page->nextInFocusChain();
            first != nullptr && page->isAncestorOf(first)) {
            first->setFocus(Qt::MouseFocusReason);
        }
    }
}

QRect CMyTabCtrl::PageRect() const {
    const int top = m_bar->sizeHint().height();
    return QRect(0, top, width(), height() - top)
        .adjusted(kPageMargin, kPageMargin, -kPageMargin, -kPageMargin);
}

void CMyTabCtrl::LayOut() {
    m_bar->setGeometry(0, 0, width(), m_bar->sizeHint().height());
    const QRect rect = PageRect();
    for (CTabDialog* page : m_tabPages) {
        page->setGeometry(rect);
    }
}

QSize CMyTabCtrl::sizeHint() const {
    QSize pages(0, 0);
    for (CTabDialog* page : m_tabPages) {
        pages = pages.expandedTo(page->sizeHint());
    }
    const QSize bar = m_bar->sizeHint();
    return QSize(std::max(pages.width() + 2 * kPageMargin, bar.width()),
                 bar.height() + pages.height() + 2 * kPageMargin);
}

QSize CMyTabCtrl::minimumSizeHint() const {
    QSize pages(0, 0);
    for (CTabDialog* page : m_tabPages) {
        pages = pages.expandedTo(page->minimumSizeHint());
    }
    const QSize bar = m_bar->sizeHint();
    return QSize(std::max(pages.width() + 2 * kPageMargin, bar.width()),
                 bar.height() + pages.height() + 2 * kPageMargin);
}

void CMyTabCtrl::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    LayOut();
}

void CMyTabCtrl::paintEvent(QPaintEvent* /*event*/) {
    QStylePainter painter(this);
    QStyleOptionTabWidgetFrame frame;
    frame.initFrom(this);
    const int top = m_bar->sizeHint().height();
    frame.rect = QRect(0, top - 1, width(), height() - top + 1);
    frame.tabBarSize = m_bar->sizeHint();
    frame.tabBarRect = m_bar->geometry();
    frame.shape = QTabBar::RoundedNorth;
    frame.lineWidth = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
    painter.drawPrimitive(QStyle::PE_FrameTabWidget, frame);
}
