// Building the records the simulated device stores and sends.

#include <algorithm>
#include <cmath>

#include "link/CommandByte.h"
#include "link/DataFormats.h"
#include "link/WireRecords.h"
#include "sim/DeviceSimulator.h"

namespace sim {

uint16_t DeviceSimulator::Checksum(const SimTrack& track) {
    uint32_t sum = kTrackTerminatorSum;
    for (const auto& point : track.points) {
        for (uint8_t byte : point) {
            sum += byte;
        }
    }
    return static_cast<uint16_t>(sum);
}

std::array<uint8_t, 32> DeviceSimulator::MakePoint(double lat, double lon, uint16_t altitude,
                                                   uint16_t groundSpeed, double verticalSpeed,
                                                   uint16_t airSpeed) {
    TrackPointRecord point;
    point.position = PackPosition(lat, lon);
    point.groundSpeed.Set(groundSpeed);
    point.altitude.Set(altitude);
    const double speed = std::fabs(verticalSpeed);
    int tenths = static_cast<int>(std::lround(speed * 10));
    tenths = std::min(tenths, 255 * 10 + 9);
    point.verticalSign = verticalSpeed >= 0 ? TrackPointRecord::kUpwards : 0x00;
    point.verticalWhole = static_cast<uint8_t>(tenths / 10);
    point.verticalTenths = static_cast<uint8_t>(tenths % 10);
    point.airSpeed.Set(airSpeed);
    return point.ToBytes();
}

std::array<uint8_t, 12> DeviceSimulator::MakeRecord(int day, int month, int year, int hour,
                                                    int minute, int second, uint8_t interval,
                                                    uint16_t pointCount) {
    if (year >= 2000) {
        year -= 2000;
    }
    TrackTableRecord record;
    record.day = static_cast<uint8_t>(day);
    record.month = static_cast<uint8_t>(month);
    record.year = static_cast<uint8_t>(year);
    record.hour = static_cast<uint8_t>(hour);
    record.minute = static_cast<uint8_t>(minute);
    record.second = static_cast<uint8_t>(second);
    record.interval = interval;
    record.pointCount.Set(pointCount);
    return record.ToBytes();
}

SimTrack DeviceSimulator::MakeBigTrack(uint16_t points) {
    SimTrack track;
    track.record = MakeRecord(1, 7, 2024, 8, 0, 0, 2, points);
    track.points.resize(points);
    for (uint32_t i = 0; i < points; ++i) {
        TrackPointRecord p;
        // Latitude 55° and longitude 37° with the minutes walking through the track.
        p.position = {55,
                      static_cast<uint8_t>(i / 10000 % 60),
                      static_cast<uint8_t>(i % 10000 >> 8),
                      static_cast<uint8_t>(i % 10000),
                      37,
                      static_cast<uint8_t>((i / 7000 + 20) % 60),
                      static_cast<uint8_t>(i * 7 % 10000 >> 8),
                      static_cast<uint8_t>(i * 7 % 10000)};
        p.groundSpeed.Set(150 + i % 50);
        p.altitude.Set(500 + i % 1000);
        p.verticalSign = i % 3 ? TrackPointRecord::kUpwards : 0x00;
        p.verticalWhole = static_cast<uint8_t>(i % 5);
        p.verticalTenths = static_cast<uint8_t>(i % 10);
        p.airSpeed.Set(140 + i % 60);
        p.keptAt20[11] = static_cast<uint8_t>(i);
        track.points[i] = p.ToBytes();
    }
    return track;
}

uint32_t DeviceSimulator::StartPage(const std::array<uint8_t, 12>& record) {
    return TrackTableRecord::FromBytes(record).startPage.Get();
}

void DeviceSimulator::SetStartPage(std::array<uint8_t, 12>& record, uint32_t page) {
    TrackTableRecord fields = TrackTableRecord::FromBytes(record);
    fields.startPage.Set(page);
    record = fields.ToBytes();
}

}  // namespace sim
