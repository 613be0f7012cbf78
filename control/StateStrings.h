// The state strings of RecorderStateNotify, named once. The control fires them; containers that
// follow a control's state (the command-line tools, the bridge's recording notice) and the web
// client's types compare against the same constants. Data only: a container may include this
// header without reaching into the control.
#pragma once

namespace talrec::states {

inline constexpr char kRecordStart[] = "record-start";
inline constexpr char kRecordPause[] = "record-pause";  // both directions of the toggle
inline constexpr char kRecordResume[] = "record-resume";
inline constexpr char kRecordStop[] = "record-stop";
inline constexpr char kPlayStart[] = "play-start";
inline constexpr char kPlayPause[] = "play-pause";
inline constexpr char kPlayResume[] = "play-resume";
inline constexpr char kPlayStop[] = "play-stop";
inline constexpr char kPlayComplete[] = "play-complete";

inline constexpr const char* kAll[] = {kRecordStart, kRecordPause, kRecordResume,
                                       kRecordStop,  kPlayStart,   kPlayPause,
                                       kPlayResume,  kPlayStop,    kPlayComplete};

}  // namespace talrec::states
