#pragma once
// A read-only view of many text lines that paints only the lines on screen; the lines come
// from a source asked for line k (no document holds the text).

#include <QAbstractScrollArea>
#include <cstddef>
#include <functional>
#include <string>

class CEchoView : public QAbstractScrollArea {
    Q_OBJECT
public:
    // Line k, 0 <= k < count, as Latin-1 text without its end.
    using LineSource = std::function<std::string(std::size_t k)>;

    explicit CEchoView(QWidget* parent = nullptr);

    void SetSource(LineSource source) { m_source = std::move(source); }
    // Shows count lines of the source, each at most columns characters long.
    void SetLineCount(std::size_t count, int columns);
    std::size_t LineCount() const { return m_count; }

    void ScrollToStart();
    void ScrollToEnd();
    // The first line in view and how many fit on screen.
    std::size_t FirstVisibleLine() const;
    int LinesPerPage() const;
    int LineHeight() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void UpdateScrollBars();

    LineSource m_source;
    std::size_t m_count = 0;
    int m_columns = 0;
};
