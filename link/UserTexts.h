#pragma once
// Texts that the window's pages and the command-line tool both show (UTF-8), one home each.

#include <string>
#include <string_view>

namespace MCommunication {
class DeviceException;
}

namespace UserText {

// A byte-sized entry refused.
inline constexpr char kEnterByte[] = "Enter an integer between 0 and 255.";
// Not one byte came back to a command that expects an answer.
inline constexpr char kNoAnswer[] = "Прибор не отвечает.";
inline constexpr char kNoAnemometer[] = "Данная версия прибора не поддерживает анемометр!";
inline constexpr char kClearFailed[] = "Не удалось очистить память";
inline constexpr char kNoTrackTable[] = "Не удалось получить информацию о треках";
inline constexpr char kChecksumMismatch[] =
    "Ошибка при получении трека (контрольная сумма не совпадает).";
inline constexpr char kMarksReceived[] = "Метки получены успешно";
inline constexpr char kRouteSent[] = "Маршрут передан успешно";

// Opening the port: the hints added to the system's text.
inline constexpr char kPortAccessHint[] =
    "Чтобы получить доступ к порту, добавьте пользователя в группу dialout "
    "(sudo usermod -aG dialout $USER) и войдите в систему заново.";
inline constexpr char kPortBusyHint[] =
    "Порт занят другой программой (часто это ModemManager или brltty, которые забирают "
    "USB-адаптеры); закройте её и попробуйте снова.";
inline constexpr char kNotSerialPort[] = "Это не последовательный порт:";

// Why the port could not be opened: the error's text, "Это не последовательный порт: …" for a
// path that is not a terminal, and the hint for a missing permission or a busy port after
// hintSeparator.
std::string PortOpenFailure(const MCommunication::DeviceException& error,
                            std::string_view hintSeparator = "\n\n");

}  // namespace UserText
