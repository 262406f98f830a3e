#pragma once

#include <QByteArray>

#include <array>
#include <cstdint>
#include <optional>

namespace ombrix {

constexpr int StageCount = 5;
constexpr int FunctionCount = 2;
constexpr int SpeedOptionsPerStage = 4;

// Speed of a stage as it travels on the wire. The options of a stage frame
// run top to bottom 3, 2, 1, 0: code = 3 - (item mod 4).
enum SpeedCode : std::uint8_t { SpeedPause = 0, SpeedSlow = 1, SpeedLow = 2, SpeedHigh = 3 };

constexpr int speedCodeOfItem(int item) { return 3 - item % SpeedOptionsPerStage; }
constexpr int itemOfSpeedCode(int code, int function) { return function * SpeedOptionsPerStage + 3 - code; }

struct StageSetting
{
    std::uint8_t time; // whole seconds
    std::uint8_t speed; // SpeedCode
};

// Stages 1 to 5 of one function.
using FunctionProgram = std::array<StageSetting, StageCount>;
// Function 1 (control-array index 0) and function 2 (index 1).
using StageProgramme = std::array<FunctionProgram, FunctionCount>;

// What the window starts with.
constexpr StageProgramme StageDefaults = {{
    {{{5, SpeedSlow}, {20, SpeedHigh}, {8, SpeedPause}, {30, SpeedLow}, {5, SpeedSlow}}},
    {{{10, SpeedSlow}, {10, SpeedHigh}, {10, SpeedPause}, {10, SpeedLow}, {10, SpeedSlow}}},
}};

// A parameter reply is read in the write frame's layout up to its last speed.
constexpr int ParamReplyMinLength = 23;

// 02 16 5A, the ten times (function 1 then 2, stages 1 to 5), the ten speed
// codes in the same order, the check byte.
QByteArray WriteFrame(const StageProgramme &programme);

// What a parameter reply carries: the ten times, and the ten speeds where
// the byte names one (a byte of 4 or more leaves its stage's speed alone).
struct ParamValues
{
    std::array<std::array<std::uint8_t, StageCount>, FunctionCount> time;
    std::array<std::array<std::optional<std::uint8_t>, StageCount>, FunctionCount> speed;
};

// Reads bytes 3 to 22 of a block that starts with OpRead; bytes 1, 2 and
// 23 on are never looked at. A block too short to hold them all gives
// nothing, so a window never shows half a reply.
std::optional<ParamValues> ParamReply(const QByteArray &block);

} // namespace ombrix
