// The manager's operations by number and the state each one leads to from each state: the
// model that the manager's tests check it against.
#pragma once

#include <array>
#include <string>

#include "audio/WaveManager.h"

namespace managertest {

enum Op {
    kStartRecording,
    kStopRecording,
    kTogglePauseRecording,
    kResumeRecording,
    kStartPlayback,
    kStopPlayback,
    kTogglePausePlayback,
    kResumePlayback,
    kOpCount,
};

inline constexpr std::array<const char*, kOpCount> kOpNames = {
    "StartRecording", "StopRecording", "TogglePauseRecording", "ResumeRecording",
    "StartPlayback",  "StopPlayback",  "TogglePausePlayback",  "ResumePlayback"};
inline constexpr std::array<const char*, 5> kStateNames = {"Recording", "Playing", "Idle",
                                                           "PlayPaused", "RecordPaused"};

inline constexpr int kRefused = -1;

// kNext[state][op]: the new state, or kRefused when the state does not accept the operation.
inline constexpr int kNext[5][kOpCount] = {
    /* Recording    */ {kRefused, Idle, RecordPaused, kRefused, kRefused, kRefused, kRefused,
                        kRefused},
    /* Playing      */
    {kRefused, kRefused, kRefused, kRefused, kRefused, Idle, PlayPaused, kRefused},
    /* Idle         */
    {Recording, kRefused, kRefused, kRefused, Playing, kRefused, kRefused, kRefused},
    /* PlayPaused   */ {kRefused, kRefused, kRefused, kRefused, Playing, Idle, Playing, Playing},
    /* RecordPaused */
    {Recording, Idle, Recording, Recording, kRefused, kRefused, kRefused, kRefused},
};

// The state after `op` in `state` by the tables.
inline LONG Expected(LONG state, Op op) {
    const int next = kNext[state][op];
    return next == kRefused ? state : next;
}

inline bool Apply(CWaveManager& m, Op op, const std::string& recordPath,
                  const std::string& playPath) {
    switch (op) {
        case kStartRecording:
            return m.StartRecording(recordPath);
        case kStopRecording:
            return m.StopRecording();
        case kTogglePauseRecording:
            return m.TogglePauseRecording();
        case kResumeRecording:
            return m.ResumeRecording();
        case kStartPlayback:
            return m.StartPlayback(playPath);
        case kStopPlayback:
            return m.StopPlayback();
        case kTogglePausePlayback:
            return m.TogglePausePlayback();
        case kResumePlayback:
        case kOpCount:
            break;
    }
    return m.ResumePlayback();
}

}  // namespace managertest
