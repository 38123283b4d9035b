#include "controls/CMyListCtrl.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QHeaderView>
#include <QPainter>
#include <QStandardItemModel>
#include <cstdlib>

namespace {

QColor FromArgb(uint32_t argb) {
    return QColor::fromRgba(static_cast<QRgb>(argb));
}

}  // namespace

QFont CMyListCtrl::CellFont() {
    static const QFont font = [] {
        QFont tahoma(QStringLiteral("Tahoma"));
        tahoma.setPointSize(9);
        tahoma.setWeight(QFont::Normal);
        tahoma.setStyleHint(QFont::SansSerif);  // the system sans-serif when Tahoma is missing
        if (!QFontDatabase::hasFamily(QStringLiteral("Tahoma"))) {
            QFont sans = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
            sans.setPointSize(9);
            sans.setWeight(QFont::Normal);
            sans.setItalic(false);
            return sans;
        }
        return tahoma;
    }();
    return font;
}

void CMyListDelegate::PaintRow(QPainter* painter, const QRect& rowRect, const QModelIndex& index,
                               bool selected, const QWidget* view) const {
    const auto* list = qobject_cast<const CMyListCtrl*>(view);
    if (list == nullptr) {
        return;
    }
    const QPalette& palette = view->palette();
    painter->save();
    painter->fillRect(rowRect, palette.color(selected ? QPalette::Highlight : QPalette::Base));
    const uint32_t argb = list->GetItemData(index.row());
    painter->setPen(selected ? palette.color(QPalette::HighlightedText) : FromArgb(argb));
    const QFont font = CMyListCtrl::CellFont();
    painter->setFont(font);
    const int ascent = QFontMetrics(font).ascent();
    const QHeaderView* header = list->header();
    int x = rowRect.left();
    for (int visual = 0; visual < header->count(); ++visual) {
        const int column = header->logicalIndex(visual);
        if (header->isSectionHidden(column)) {
            continue;
        }
        // Unclipped: a long text runs on into the next column.
        painter->drawText(QPoint(x + 5, rowRect.top() + ascent),
                          list->GetItemText(index.row(), column));
        x += header->sectionSize(column);
    }
    painter->restore();
}

QSize CMyListDelegate::sizeHint(const QStyleOptionViewItem& option,
                                const QModelIndex& /*index*/) const {
    const auto* list = qobject_cast<const CMyListCtrl*>(option.widget);
    const int height = list != nullptr ? list->RowHeight() : QFontInfo(option.font).pixelSize() + 4;
    return {option.rect.width(), height};
}

CMyListCtrl::CMyListCtrl(QWidget* parent)
    : QTreeView(parent),
      m_model(new QStandardItemModel(this)),
      m_delegate(new CMyListDelegate(this)) {
    setModel(m_model);
    setItemDelegate(m_delegate);
    setFont(CellFont());
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setFrameShape(QFrame::StyledPanel);
    header()->setStretchLastSection(false);
    header()->setSectionsMovable(false);
    header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // Every inserted row starts black, whatever data it came with.
    connect(m_model, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex& parentIndex, int first, int last) {
                if (parentIndex.isValid()) {
                    return;
                }
                for (int row = first; row <= last; ++row) {
                    SetItemData(row, kDefaultRowColour);
                }
            });
}

int CMyListCtrl::InsertColumn(int column, const QString& title, int width) {
    column = std::clamp(column, 0, m_model->columnCount());
    m_model->insertColumn(column);
    m_model->setHeaderData(column, Qt::Horizontal, title);
    m_model->setHeaderData(column, Qt::Horizontal, int(Qt::AlignLeft | Qt::AlignVCenter),
                           Qt::TextAlignmentRole);
    // A wider font than the list was laid out for must not cut the title.
    header()->resizeSection(column, std::max(width, header()->sectionSizeHint(column)));
    return column;
}

int CMyListCtrl::InsertItem(int row, const QString& text) {
    row = std::clamp(row, 0, m_model->rowCount());
    QList<QStandardItem*> items;
    const int columns = std::max(1, m_model->columnCount());
    for (int column = 0; column < columns; ++column) {
        items.append(new QStandardItem(column == 0 ? text : QString()));
    }
    m_model->insertRow(row, items);
    return row;
}

bool CMyListCtrl::SetItemText(int row, int column, const QString& text) {
    QStandardItem* item = m_model->item(row, column);
    if (item == nullptr) {
        if (row < 0 || row >= m_model->rowCount() || column < 0 ||
            column >= m_model->columnCount()) {
            return false;
        }
        item = new QStandardItem;
        m_model->setItem(row, column, item);
    }
    item->setText(text);
    return true;
}

QString CMyListCtrl::GetItemText(int row, int column) const {
    const QStandardItem* item = m_model->item(row, column);
    return item != nullptr ? item->text() : QString();
}

bool CMyListCtrl::SetItemData(int row, uint32_t argb) {
    QStandardItem* item = m_model->item(row, 0);
    if (item == nullptr) {
        return false;
    }
    item->setData(QVariant::fromValue<uint>(argb), kColourRole);
    viewport()->update();
    return true;
}

uint32_t CMyListCtrl::GetItemData(int row) const {
    const QStandardItem* item = m_model->item(row, 0);
    if (item == nullptr) {
        return 0;
    }
    return item->data(kColourRole).toUInt();
}

void CMyListCtrl::DeleteAllItems() {
    m_model->removeRows(0, m_model->rowCount());
}

int CMyListCtrl::GetItemCount() const {
    return m_model->rowCount();
}

int CMyListCtrl::GetColumnCount() const {
    return m_model->columnCount();
}

int CMyListCtrl::GetColumnWidth(int column) const {
    return header()->sectionSize(column);
}

std::vector<uint32_t> CMyListCtrl::GetSelectedRows() const {
    std::vector<uint32_t> rows;
    for (int row = 0; row < m_model->rowCount(); ++row) {
        if (selectionModel()->isRowSelected(row, QModelIndex())) {
            rows.push_back(static_cast<uint32_t>(row));
        }
    }
    return rows;
}

void CMyListCtrl::SetRowSelected(int row, bool selected) {
    const QModelIndex index = m_model->index(row, 0);
    if (!index.isValid()) {
        return;
    }
    selectionModel()->select(
        index, (selected ? QItemSelectionModel::Select : QItemSelectionModel::Deselect) |
                   QItemSelectionModel::Rows);
}

int CMyListCtrl::RowHeight() const {
    if (m_rowHeightScale < 1) {
        m_rowHeightScale = 1;
    }
    const int pixels = std::abs(QFontInfo(font()).pixelSize());
    return (pixels + 4) * m_rowHeightScale;
}

void CMyListCtrl::drawRow(QPainter* painter, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const {
    int width = 0;
    for (int column = 0; column < header()->count(); ++column) {
        if (!header()->isSectionHidden(column)) {
            width += header()->sectionSize(column);
        }
    }
    const int left =
        header()->count() > 0 ? header()->sectionViewportPosition(header()->logicalIndex(0)) : 0;
    const QRect rowRect(left, option.rect.top(), width, option.rect.height());
    const bool selected = selectionModel()->isRowSelected(index.row(), index.parent());
    m_delegate->PaintRow(painter, rowRect, index, selected, this);
}
