#pragma once
// Every command's ID. The numbers are the ones menus, hot keys ("keys.dat") and
// macros store, so they never change; code names them, never writes the number.

#include <cstdint>

namespace quillet::core {

enum CommandId : std::int32_t {
  kCmdNone = 0,

  // File
  kCmdNewFile = 1001,
  kCmdOpenFile = 1002,
  kCmdCloseFile = 1003,
  kCmdSaveFile = 1004,
  kCmdSaveFileAs = 1005,
  kCmdConvertSampleRate = 1006,
  kCmdConvertMono = 1007,
  kCmdConvertStereo = 1008,
  kCmdSend = 1009,
  kCmdOptions = 1010,
  kCmdLoadCdTracks = 1011,
  kCmdCopyToCdAudio = 1012,
  kCmdOpenProject = 1013,
  kCmdCloseProject = 1014,
  kCmdSaveProject = 1015,
  kCmdSaveProjectAs = 1016,
  kCmdCopyToCdData = 1018,
  kCmdEditTags = 1019,
  kCmdExit = 1048,
  kCmdRecentFirst = 1050,  // 1050..1060: the recent files
  kCmdRecentLast = 1060,

  // Edit
  kCmdUndo = 2001,
  kCmdCut = 2002,
  kCmdCopy = 2003,
  kCmdPaste = 2004,
  kCmdPasteMix = 2005,
  kCmdDelete = 2006,
  kCmdSelectAll = 2007,
  kCmdMixFile = 2008,
  kCmdRepeatLoop = 2009,
  kCmdTrim = 2010,
  kCmdTrimStart = 2011,
  kCmdTrimEnd = 2012,
  kCmdAutoTrim = 2013,
  kCmdSilence = 2014,
  kCmdInsertSilenceStart = 2015,
  kCmdInsertSilenceHere = 2016,
  kCmdInsertSilenceEnd = 2017,
  kCmdInsertFileStart = 2018,
  kCmdInsertFileHere = 2019,
  kCmdInsertFileEnd = 2020,
  kCmdCopyToNew = 2021,
  kCmdSelectToStart = 2022,
  kCmdSelectToEnd = 2023,
  kCmdPasteSystem = 2025,
  kCmdPasteMixSystem = 2026,
  kCmdSelectTime = 2027,
  kCmdSaveRegion = 2028,
  kCmdSplit = 2029,
  kCmdMarkFirst = 2030,
  kCmdMarkSecond = 2031,
  kCmdRecallMarks = 2032,
  kCmdRedo = 2033,

  // Control
  kCmdRecord = 3001,
  kCmdPlay = 3002,
  kCmdPlaySlow = 3003,
  kCmdPlayNormal = 3004,
  kCmdPlayFast = 3005,
  kCmdStop = 3006,
  kCmdGoToStart = 3007,
  kCmdRewind = 3008,
  kCmdForward = 3009,
  kCmdGoToEnd = 3010,
  kCmdPlayRepeat = 3011,

  // Effects
  kCmdAmplify = 4001,
  kCmdNormalize = 4002,
  kCmdEqualizer = 4003,
  kCmdEcho = 4004,
  kCmdReverb = 4005,
  kCmdFadeIn = 4006,
  kCmdFadeOut = 4007,
  kCmdEnvelope = 4008,
  kCmdAutoGainControl = 4009,
  kCmdNoiseGate = 4010,
  kCmdHighPass = 4011,
  kCmdCompressor = 4012,
  kCmdFadeOutAndTrim = 4013,
  kCmdSpeedAndPitch = 4014,
  kCmdSpeed = 4015,
  kCmdPitch = 4016,
  kCmdDcOffset = 4017,
  kCmdReverse = 4018,
  kCmdPluginEffects = 4019,  // LADSPA and LV2
  kCmdVstPlugins = 4020,
  kCmdCrossFade = 4021,
  kCmdStereoPan = 4022,
  kCmdNoiseReductionAuto = 4023,
  kCmdNoiseGrab = 4024,
  kCmdNoiseReduction = 4025,
  // quillet-cli and scripts only: the equalizer over a curve given as text.
  kCmdEqualizerCurve = 4103,

  // View and Window
  kCmdZoomIn = 5001,
  kCmdZoomOut = 5002,
  kCmdZoomSelection = 5003,
  kCmdZoomFull = 5004,
  kCmdVerticalZoom = 5005,
  kCmdDisplayPlusMinus = 5007,
  kCmdDisplayLeftRight = 5008,
  kCmdCascade = 5009,
  kCmdTileHorizontal = 5010,
  kCmdTileVertical = 5011,
  kCmdArrangeIcons = 5012,
  kCmdCloseAll = 5040,

  // Help
  kCmdHelp = 6000,
  kCmdHomePage = 6001,
  kCmdSupport = 6002,
  kCmdAbout = 6013,

  // Tools
  kCmdFrequencyAnalysis = 7001,
  kCmdToneGenerator = 7002,
  kCmdBatchConverter = 7003,
  kCmdTextToSpeech = 7004,
  kCmdTemporalAnalysis = 7005,
  kCmdClickPopAuto = 7009,
  kCmdClickPopManual = 7010,

  // Bookmarks and regions
  kCmdRegionList = 8000,
  kCmdSetBookmark = 8001,
  kCmdBookmarkList = 8003,
  kCmdAddRegion = 8004,
  kCmdAssembleRegions = 8005,

  // Bars
  kCmdShowCommandBar = 9001,
  kCmdMainToolbar = 9002,
  kCmdEffectsToolbar = 9003,
  kCmdCommandBarLeft = 9004,
  kCmdCommandBarRight = 9005,

  // Commands made at run time (plug-ins) take IDs from here on.
  kCmdFirstDynamic = 20000,
};

}  // namespace quillet::core
