#include "tracks/CFlightPreviewDlg.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLinearGradient>
#include <QLocale>
#include <QPainter>
#include <QVBoxLayout>
#include <algorithm>
#include <array>
#include <cmath>

#include "tracks/TrackKml.h"
#include "tracks/TrackTable.h"

namespace {

constexpr int kBins = 32;  // colours of the path: each segment takes the nearest of these
constexpr double kPi = 3.14159265358979323846;

QColor BinColour(int bin, CFlightPreviewDlg::Colouring colouring) {
    const double t = double(bin) / (kBins - 1);
    if (colouring == CFlightPreviewDlg::Colouring::Altitude) {
        // Low blue, through green and yellow, to high red.
        return QColor::fromHsvF(float((1.0 - t) * 240.0 / 360.0), 0.9f, 0.9f);
    }
    // Sink blue, level grey, climb red.
    const double s = 2.0 * t - 1.0;
    const QColor level(150, 150, 150);
    const QColor end = s < 0 ? QColor(20, 80, 255) : QColor(230, 30, 20);
    const double a = std::abs(s);
    return QColor(int(level.red() + (end.red() - level.red()) * a),
                  int(level.green() + (end.green() - level.green()) * a),
                  int(level.blue() + (end.blue() - level.blue()) * a));
}

// The colour range: altitude from lowest to highest, vertical speed symmetric about 0.
std::pair<double, double> Range(const FlightShape& shape, CFlightPreviewDlg::Colouring colouring) {
    if (colouring == CFlightPreviewDlg::Colouring::Altitude) {
        return {shape.lowest, std::max(shape.highest, shape.lowest + 1.0f)};
    }
    const double extent = std::max({std::abs(double(shape.sink)), double(shape.topClimb), 0.5});
    return {-extent, extent};
}

int BinOf(double value, std::pair<double, double> range) {
    const double t = (value - range.first) / (range.second - range.first);
    return std::clamp(int(std::lround(t * (kBins - 1))), 0, kBins - 1);
}

// Decimal comma, no group separator: "1099", "3,2".
QString Number(double value, int decimals) {
    QLocale russian(QLocale::Russian);
    russian.setNumberOptions(QLocale::OmitGroupSeparator);
    return russian.toString(value, 'f', decimals);
}

// The ground path in rect, north up, distances true at the track's latitude, and its legend.
void DrawPath(QPainter& painter, const QRect& area, const FlightShape& shape,
              CFlightPreviewDlg::Colouring colouring) {
    painter.fillRect(area, QColor(250, 250, 246));
    painter.setPen(QColor(190, 190, 190));
    painter.drawRect(area.adjusted(0, 0, -1, -1));
    if (shape.ground.empty()) {
        return;
    }
    const int legendWidth = 70;
    const QRect rect = area.adjusted(12, 12, -12 - legendWidth, -12);
    const double w = std::max(shape.bounds.width(), 1e-9);
    const double h = std::max(shape.bounds.height(), 1e-9);
    const double scale = std::min(rect.width() / w, rect.height() / h);
    const double left = rect.left() + (rect.width() - w * scale) / 2;
    const double top = rect.top() + (rect.height() - h * scale) / 2;
    const auto place = [&](const QPointF& p) {
        return QPoint(int(left + (p.x() - shape.bounds.left()) * scale),
                      int(top + (shape.bounds.bottom() - p.y()) * scale));
    };

    // Segments grouped by colour, one pen per group; points on the pixel of the last one drawn
    // are passed over.
    const auto range = Range(shape, colouring);
    const std::vector<float>& values =
        colouring == CFlightPreviewDlg::Colouring::Altitude ? shape.altitude : shape.climb;
    std::array<QVector<QLine>, kBins> segments;
    QPoint last = place(shape.ground[0]);
    for (std::size_t i = 1; i < shape.ground.size(); ++i) {
        const QPoint next = place(shape.ground[i]);
        if (next == last) {
            continue;
        }
        segments[std::size_t(BinOf(values[i], range))].append(QLine(last, next));
        last = next;
    }
    for (int bin = 0; bin < kBins; ++bin) {
        if (!segments[std::size_t(bin)].isEmpty()) {
            painter.setPen(QPen(BinColour(bin, colouring), 2));
            painter.drawLines(segments[std::size_t(bin)]);
        }
    }
    // Start and end marks.
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(QColor(40, 170, 40));
    painter.drawEllipse(place(shape.ground.front()), 4, 4);
    painter.setBrush(QColor(200, 40, 40));
    painter.drawEllipse(place(shape.ground.back()), 4, 4);
    painter.setBrush(Qt::NoBrush);

    // Legend: the colour bar with its two ends written.
    const QRect bar(area.right() - legendWidth + 8, area.top() + 34, 14, area.height() - 60);
    QLinearGradient gradient(bar.bottomLeft(), bar.topLeft());
    for (int bin = 0; bin < kBins; ++bin) {
        gradient.setColorAt(double(bin) / (kBins - 1), BinColour(bin, colouring));
    }
    painter.fillRect(bar, gradient);
    painter.setPen(QColor(90, 90, 90));
    painter.drawRect(bar.adjusted(0, 0, -1, -1));
    const bool altitude = colouring == CFlightPreviewDlg::Colouring::Altitude;
    painter.setPen(Qt::black);
    painter.drawText(QRect(bar.left() - 6, area.top() + 4, legendWidth, 28),
                     Qt::AlignLeft | Qt::TextWordWrap,
                     altitude ? QStringLiteral("Высота, м") : QStringLiteral("Верт. ск., м/с"));
    const int decimals = altitude ? 0 : 1;
    painter.drawText(QPoint(bar.right() + 4, bar.top() + 8), Number(range.second, decimals));
    painter.drawText(QPoint(bar.right() + 4, bar.bottom()), Number(range.first, decimals));
}

// Altitude against time: the lowest and highest altitude of each pixel column.
void DrawProfile(QPainter& painter, const QRect& area, const FlightShape& shape) {
    painter.fillRect(area, QColor(250, 250, 246));
    painter.setPen(QColor(190, 190, 190));
    painter.drawRect(area.adjusted(0, 0, -1, -1));
    const std::size_t n = shape.altitude.size();
    if (n == 0) {
        return;
    }
    const QRect rect = area.adjusted(56, 10, -12, -22);
    const double low = shape.lowest;
    const double high = std::max(shape.highest, shape.lowest + 1.0f);
    const auto y = [&](double altitude) {
        return rect.bottom() - (altitude - low) / (high - low) * rect.height();
    };
    painter.setPen(QColor(210, 210, 210));
    for (int k = 0; k <= 4; ++k) {
        const double a = low + (high - low) * k / 4;
        painter.drawLine(QPointF(rect.left(), y(a)), QPointF(rect.right(), y(a)));
    }
    painter.setPen(Qt::black);
    for (int k = 0; k <= 4; k += 2) {
        const double a = low + (high - low) * k / 4;
        painter.drawText(QRectF(area.left(), y(a) - 8, 50, 16), Qt::AlignRight | Qt::AlignVCenter,
                         Number(a, 0));
    }
    const auto clock = [](int second) {
        second %= 24 * 3600;
        return QStringLiteral("%1:%2:%3")
            .arg(second / 3600, 2, 10, QLatin1Char('0'))
            .arg(second / 60 % 60, 2, 10, QLatin1Char('0'))
            .arg(second % 60, 2, 10, QLatin1Char('0'));
    };
    const QRect under(rect.left(), rect.bottom() + 4, rect.width(), 16);
    painter.drawText(under, Qt::AlignLeft, clock(shape.startSecond));
    painter.drawText(under, Qt::AlignHCenter, QStringLiteral("время"));
    painter.drawText(under, Qt::AlignRight, clock(shape.startSecond + shape.seconds));
    painter.drawText(QRect(area.left() + 4, area.top() + 2, 50, 16), Qt::AlignLeft,
                     QStringLiteral("м"));

    const int columns = std::max(1, rect.width());
    QPolygonF outline;
    outline.reserve(columns * 2 + 2);
    std::size_t i = 0;
    for (int c = 0; c < columns && i < n; ++c) {
        const std::size_t end = std::max(i + 1, std::size_t((c + 1) * double(n) / columns));
        float lo = shape.altitude[i];
        float hi = lo;
        for (std::size_t k = i; k < end && k < n; ++k) {
            lo = std::min(lo, shape.altitude[k]);
            hi = std::max(hi, shape.altitude[k]);
        }
        const double x = rect.left() + (n == 1 ? 0.0 : c);
        outline << QPointF(x, y(lo)) << QPointF(x, y(hi));
        i = end;
    }
    painter.setPen(QPen(QColor(30, 90, 200), 1.5));
    painter.drawPolyline(outline);
}

}  // namespace

FlightShape FlightShape::Of(const TrackEntry& track) {
    FlightShape shape;
    const std::size_t n = track.points.size();
    if (n == 0) {
        return shape;
    }
    double latitudes = 0;
    for (const TrackPoint& point : track.points) {
        latitudes += point.Latitude();
    }
    const double across = std::cos(latitudes / double(n) * kPi / 180.0);
    shape.ground.reserve(n);
    shape.altitude.reserve(n);
    shape.climb.reserve(n);
    double minX = 1e300, maxX = -1e300, minY = 1e300, maxY = -1e300;
    for (const TrackPoint& point : track.points) {
        const QPointF p(point.Longitude() * across, point.Latitude());
        shape.ground.push_back(p);
        shape.altitude.push_back(float(point.Altitude()));
        shape.climb.push_back(float(point.VerticalSpeed()));
        minX = std::min(minX, p.x());
        maxX = std::max(maxX, p.x());
        minY = std::min(minY, p.y());
        maxY = std::max(maxY, p.y());
    }
    shape.bounds = QRectF(QPointF(minX, minY), QPointF(maxX, maxY));
    shape.startSecond = track.Hour() * 3600 + track.Minute() * 60 + track.Second();
    shape.seconds = int(n) * track.Interval();
    const auto [lowest, highest] =
        std::minmax_element(shape.altitude.begin(), shape.altitude.end());
    shape.lowest = *lowest;
    shape.highest = *highest;
    const auto [sink, climb] = std::minmax_element(shape.climb.begin(), shape.climb.end());
    shape.sink = std::min(0.0f, *sink);
    shape.topClimb = std::max(0.0f, *climb);
    return shape;
}

class CFlightPreviewDlg::PathView : public QWidget {
public:
    explicit PathView(CFlightPreviewDlg* owner) : QWidget(owner), m_owner(owner) {
        setMinimumSize(420, 300);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        DrawPath(painter, rect(), m_owner->m_shape, m_owner->m_colouring);
    }

private:
    CFlightPreviewDlg* m_owner;
};

class CFlightPreviewDlg::ProfileView : public QWidget {
public:
    explicit ProfileView(CFlightPreviewDlg* owner) : QWidget(owner), m_owner(owner) {
        setMinimumSize(420, 150);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        DrawProfile(painter, rect(), m_owner->m_shape);
    }

private:
    CFlightPreviewDlg* m_owner;
};

CFlightPreviewDlg::CFlightPreviewDlg(QWidget* parent)
    : QDialog(parent, Qt::Window),
      m_trackBox(new QComboBox(this)),
      m_colourBox(new QComboBox(this)),
      m_summary(new QLabel(this)),
      m_path(new PathView(this)),
      m_profile(new ProfileView(this)) {
    setWindowTitle(QStringLiteral("Просмотр трека"));
    m_colourBox->addItems(
        {QStringLiteral("по высоте"), QStringLiteral("по вертикальной скорости")});
    m_summary->setTextFormat(Qt::PlainText);
    m_summary->setAlignment(Qt::AlignTop | Qt::AlignLeft);

    auto* side = new QVBoxLayout;
    side->addWidget(new QLabel(QStringLiteral("Трек:"), this));
    side->addWidget(m_trackBox);
    side->addSpacing(8);
    side->addWidget(new QLabel(QStringLiteral("Цвет линии:"), this));
    side->addWidget(m_colourBox);
    side->addSpacing(12);
    side->addWidget(m_summary);
    side->addStretch(1);

    auto* grid = new QGridLayout(this);
    grid->addWidget(m_path, 0, 0);
    grid->addLayout(side, 0, 1, 2, 1);
    grid->addWidget(m_profile, 1, 0);
    grid->setColumnStretch(0, 1);

    connect(m_trackBox, &QComboBox::currentIndexChanged, this, &CFlightPreviewDlg::SelectTrack);
    connect(m_colourBox, &QComboBox::currentIndexChanged, this, [this](int index) {
        SetColouring(index == 1 ? Colouring::VerticalSpeed : Colouring::Altitude);
    });
    resize(760, 560);
}

CFlightPreviewDlg::~CFlightPreviewDlg() = default;

CFlightPreviewDlg* CFlightPreviewDlg::ShowFor(QWidget* parent,
                                              const std::vector<TrackEntry>& tracks) {
    std::vector<TrackEntry> downloaded;
    for (const TrackEntry& track : tracks) {
        if (!track.points.empty()) {
            downloaded.push_back(track);
        }
    }
    if (downloaded.empty()) {
        return nullptr;
    }
    auto* preview = parent != nullptr ? parent->findChild<CFlightPreviewDlg*>(
                                            QString(), Qt::FindDirectChildrenOnly)
                                      : nullptr;
    if (preview == nullptr) {
        preview = new CFlightPreviewDlg(parent);
    }
    preview->SetTracks(std::move(downloaded));
    preview->show();
    preview->raise();
    preview->activateWindow();
    return preview;
}

void CFlightPreviewDlg::SetTracks(std::vector<TrackEntry> tracks) {
    m_tracks = std::move(tracks);
    {
        const QSignalBlocker block(m_trackBox);
        m_trackBox->clear();
        for (const TrackEntry& track : m_tracks) {
            m_trackBox->addItem(
                QString::fromStdString(FormatTrackDate(track) + " " + FormatTrackTime(track)));
        }
        m_trackBox->setEnabled(m_tracks.size() > 1);
    }
    SelectTrack(0);
}

void CFlightPreviewDlg::SelectTrack(int index) {
    if (index < 0 || index >= int(m_tracks.size())) {
        m_shape = FlightShape();
        m_summary->clear();
    } else {
        const QSignalBlocker block(m_trackBox);
        m_trackBox->setCurrentIndex(index);
        m_shape = FlightShape::Of(m_tracks[std::size_t(index)]);
        m_summary->setText(SummaryText());
    }
    m_path->update();
    m_profile->update();
}

void CFlightPreviewDlg::SetColouring(Colouring colouring) {
    m_colouring = colouring;
    const QSignalBlocker block(m_colourBox);
    m_colourBox->setCurrentIndex(colouring == Colouring::VerticalSpeed ? 1 : 0);
    m_path->update();
}

QString CFlightPreviewDlg::SummaryText() const {
    const int index = m_trackBox->currentIndex();
    if (index < 0 || index >= int(m_tracks.size())) {
        return {};
    }
    const TrackEntry& track = m_tracks[std::size_t(index)];
    return QStringLiteral(
               "Начало: %1 %2\nПродолжительность: %3\nТочек: %4\n"
               "Наибольшая высота: %5 м\nНаибольший набор высоты: %6 м/с")
        .arg(QString::fromStdString(FormatTrackDate(track)),
             QString::fromStdString(FormatTrackTime(track)),
             QString::fromStdString(TrackDurationText(track)), QString::number(track.points.size()),
             Number(m_shape.highest, 0), Number(m_shape.topClimb, 1));
}

QImage CFlightPreviewDlg::Render(QSize size) const {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setFont(font());
    const int profileHeight = std::min(150, size.height() / 3);
    DrawPath(painter, QRect(0, 0, size.width(), size.height() - profileHeight - 6), m_shape,
             m_colouring);
    DrawProfile(painter, QRect(0, size.height() - profileHeight, size.width(), profileHeight),
                m_shape);
    return image;
}
