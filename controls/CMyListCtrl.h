#pragma once
// A report list whose rows it paints itself, each row in its own text colour.

#include <QStyledItemDelegate>
#include <QTreeView>
#include <cstdint>
#include <vector>

class QStandardItemModel;

// Paints one whole row: background, then every cell 5 px right of its column, unclipped.
class CMyListDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    explicit CMyListDelegate(QObject* parent = nullptr) : QStyledItemDelegate(parent) {}

    void PaintRow(QPainter* painter, const QRect& rowRect, const QModelIndex& index, bool selected,
                  const QWidget* view) const;
    // Nothing per cell: the view asks for whole rows.
    void paint(QPainter*, const QStyleOptionViewItem&, const QModelIndex&) const override {}
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

// Report-view list with per-row ARGB text colours and several rows selectable.
class CMyListCtrl : public QTreeView {
    Q_OBJECT
public:
    static constexpr uint32_t kDefaultRowColour = 0xFF000000;  // opaque black
    static constexpr uint32_t kDoneRowColour = 0xFF808080;     // opaque grey
    static constexpr int kColourRole = Qt::UserRole + 1;

    explicit CMyListCtrl(QWidget* parent = nullptr);

    // Columns and rows, as the owner fills them.
    int InsertColumn(int column, const QString& title, int width);
    int InsertItem(int row, const QString& text);  // colour set to opaque black; returns the row
    bool SetItemText(int row, int column, const QString& text);
    QString GetItemText(int row, int column) const;
    bool SetItemData(int row, uint32_t argb);  // the row's text colour
    uint32_t GetItemData(int row) const;
    void DeleteAllItems();
    int GetItemCount() const;
    int GetColumnCount() const;
    int GetColumnWidth(int column) const;

    // Selection.
    std::vector<uint32_t> GetSelectedRows() const;  // ascending
    void SetRowSelected(int row, bool selected);

    // Row height: (|font pixel height| + 4) × scale.
    int RowHeight() const;
    // The font the cells are drawn in: "Tahoma" 9 pt, or the system sans-serif.
    static QFont CellFont();

    QStandardItemModel* Model() const { return m_model; }

protected:
    void drawRow(QPainter* painter, const QStyleOptionViewItem& option,
                 const QModelIndex& index) const override;

private:
    mutable int32_t m_rowHeightScale = 1;
    QStandardItemModel* m_model;
    CMyListDelegate* m_delegate;
};
