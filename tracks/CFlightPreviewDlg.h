#pragma once
// A downloaded track drawn: its ground path coloured by altitude or vertical speed, with a
// legend, and below it the altitude against time; start, duration, top altitude and top climb
// written beside.

#include <QDialog>
#include <QImage>
#include <vector>

#include "link/TrackEntry.h"

class QComboBox;
class QLabel;

// The track's points in the form the pictures need, made once per track.
struct FlightShape {
    std::vector<QPointF> ground;  // x: longitude × cos(mean latitude), y: latitude (degrees)
    std::vector<float> altitude;  // metres
    std::vector<float> climb;     // vertical speed, m/s
    QRectF bounds;                // of ground
    int startSecond = 0;          // of the day, from the table record
    int seconds = 0;              // points × interval
    float lowest = 0, highest = 0, sink = 0, topClimb = 0;

    static FlightShape Of(const TrackEntry& track);
};

class CFlightPreviewDlg : public QDialog {
    Q_OBJECT
public:
    enum class Colouring { Altitude, VerticalSpeed };

    explicit CFlightPreviewDlg(QWidget* parent = nullptr);
    ~CFlightPreviewDlg() override;

    // The window of parent showing the downloaded ones among tracks (made on first use, then
    // brought up); null when none of them has points.
    static CFlightPreviewDlg* ShowFor(QWidget* parent, const std::vector<TrackEntry>& tracks);

    // Tracks with points; the first is shown, a box chooses among several.
    void SetTracks(std::vector<TrackEntry> tracks);
    void SelectTrack(int index);
    void SetColouring(Colouring colouring);
    Colouring GetColouring() const { return m_colouring; }

    // Both pictures drawn into one image of the given size (path above, profile below).
    QImage Render(QSize size) const;

    QComboBox* TrackBox() const { return m_trackBox; }
    QComboBox* ColourBox() const { return m_colourBox; }
    QString SummaryText() const;
    const FlightShape& Shape() const { return m_shape; }

private:
    class PathView;
    class ProfileView;

    std::vector<TrackEntry> m_tracks;
    FlightShape m_shape;
    Colouring m_colouring = Colouring::Altitude;
    QComboBox* m_trackBox;
    QComboBox* m_colourBox;
    QLabel* m_summary;
    PathView* m_path;
    ProfileView* m_profile;
};
