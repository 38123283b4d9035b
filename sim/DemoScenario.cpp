// The demonstration content: seven flights over four days near 55.75 N 37.6 E and twelve marks.

#include <algorithm>
#include <cmath>
#include <random>

#include "link/DataFormats.h"
#include "sim/DeviceSimulator.h"

namespace sim {

namespace {

// Uniform number in [0, 1) from the generator's raw output (the same on every library).
double Unit(std::mt19937& rng) {
    return rng() / 4294967296.0;
}

struct Airfield {
    double lat;
    double lon;
    double elevation;
};

struct Flight {
    int day, month, year, hour, minute, second;
    uint8_t interval;
    uint16_t points;
    int field;
    double cruiseAltitude;  // above the field
    double cruiseSpeed;     // km/h
};

double Smooth(double x) {
    x = std::clamp(x, 0.0, 1.0);
    return x * x * (3 - 2 * x);
}

// One flight: taxi, take-off roll, climb, cruise over a wide loop, descent, landing roll.
SimTrack MakeFlight(const Flight& f, const Airfield& field, std::mt19937& rng) {
    constexpr double kPi = 3.14159265358979323846;
    SimTrack track;
    track.record = DeviceSimulator::MakeRecord(f.day, f.month, f.year, f.hour, f.minute, f.second,
                                               f.interval, f.points);
    const double wind = 8 + 14 * Unit(rng);  // km/h, head/tail component varies with heading
    const double windFrom = 2 * kPi * Unit(rng);
    double heading = 2 * kPi * Unit(rng);
    const double turn = (Unit(rng) < 0.5 ? 1 : -1) * 2 * kPi;  // one loop over the flight
    const double wobble = 0.15 + 0.2 * Unit(rng);
    double lat = field.lat;
    double lon = field.lon;
    double previousAltitude = field.elevation;
    const double n = f.points;
    for (uint32_t i = 0; i < f.points; ++i) {
        const double x = n > 1 ? i / (n - 1) : 0;
        // Altitude above the field: climb over the first quarter, descent over the last.
        const double climb = Smooth((x - 0.04) / 0.22);
        const double descent = Smooth((0.96 - x) / 0.22);
        const double bumps = 25 * std::sin(17 * x + f.points) * climb * descent;
        const double altitude =
            field.elevation + f.cruiseAltitude * std::min(climb, descent) + bumps;
        // Speed: taxi, roll, then towards cruise speed; slower on the climb and approach.
        const double roll = Smooth(x / 0.04) * Smooth((1.0 - x) / 0.04);
        const double airspeed = roll * f.cruiseSpeed * (0.8 + 0.2 * std::min(climb, descent));
        heading += turn / n + wobble * (Unit(rng) - 0.5) / 10;
        const double windAlong = wind * std::cos(heading - windFrom) * roll;
        const double ground = std::max(0.0, airspeed - windAlong) + (1 - roll) * 12 * (x < 0.5);
        const double metres = ground / 3.6 * f.interval;
        lat += metres * std::cos(heading) / 111320.0;
        lon += metres * std::sin(heading) / (111320.0 * std::cos(lat * kPi / 180));
        const double vertical = i == 0 ? 0.0 : (altitude - previousAltitude) / f.interval;
        previousAltitude = altitude;
        track.points.push_back(DeviceSimulator::MakePoint(
            lat, lon, static_cast<uint16_t>(std::lround(altitude)),
            static_cast<uint16_t>(std::lround(ground)), std::round(vertical * 10) / 10,
            static_cast<uint16_t>(std::lround(airspeed))));
    }
    return track;
}

}  // namespace

void DeviceSimulator::LoadDemoScenario() {
    static const Airfield kFields[] = {
        {55.7558, 37.6173, 150},  // the centre
        {55.5915, 37.2615, 190},
        {55.9726, 37.4146, 190},
        {55.5089, 38.0950, 120},
    };
    static const Flight kFlights[] = {
        {14, 6, 2024, 7, 42, 10, 4, 420, 1, 600, 160},
        {14, 6, 2024, 13, 5, 0, 2, 1380, 0, 900, 180},
        {15, 6, 2024, 9, 30, 45, 5, 760, 2, 1200, 200},
        {15, 6, 2024, 16, 12, 30, 2, 1990, 3, 1500, 210},
        {16, 6, 2024, 11, 0, 5, 10, 310, 1, 800, 170},
        {17, 6, 2024, 6, 55, 20, 3, 1150, 2, 2100, 220},
        {17, 6, 2024, 18, 20, 0, 5, 640, 0, 700, 150},
    };
    std::mt19937 rng(20240614);
    std::vector<SimTrack> tracks;
    for (const auto& flight : kFlights) {
        tracks.push_back(MakeFlight(flight, kFields[flight.field], rng));
    }
    SetTracks(std::move(tracks));

    static const double kMarks[][2] = {
        {55.7539, 37.6208}, {55.7520, 37.6175}, {55.7415, 37.6208}, {55.7448, 37.6057},
        {55.8197, 37.6117}, {55.7100, 37.5530}, {55.8316, 37.6297}, {55.6763, 37.5742},
        {55.7894, 37.6747}, {55.7308, 37.6019}, {55.7601, 37.5766}, {55.7749, 37.5793},
    };
    std::vector<std::array<uint8_t, 8>> marks;
    for (const auto& mark : kMarks) {
        const PackedPosition p = PackPosition(mark[0], mark[1]);
        marks.push_back(p);
    }
    SetMarks(std::move(marks));
}

}  // namespace sim
