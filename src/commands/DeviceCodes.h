#pragma once

#include <QByteArray>

#include <functional>

// Bytes the KV310 understands. 0xFE is a prefix followed by one code byte.
namespace DeviceCode
{
constexpr char Clear = 0x0C;
constexpr char NewLine = 0x0A;
constexpr char Prefix = char(0xFE);
constexpr char HomeCode = char(0x80);
constexpr char KeyStatusCode = char(0xF0);
constexpr char Block = char(0xFF);
constexpr char Space = 0x20;
} // namespace DeviceCode

// Hands one device string to the window's transmit routine.
using DeviceSender = std::function<void(const QByteArray &)>;
