#include "app/cli/cli.h"

namespace quillet::app {

// One row per command, each implemented in its own file of this folder.
std::span<const CliCommand> Commands() {
  static constexpr CliCommand kCommands[] = {
      {"help", "[COMMAND]", "show this help, or the usage of one command", &RunHelp},
      {"info", "FILE", "print the rate, channels, length and reader of an audio file", &RunInfoCommand},
      {"convert", "IN OUT", "open IN and save it as OUT with the stored format options", &RunConvertCommand},
      {"apply", "IN OUT [--from F] [--to F] COMMAND[:P1,P2,...]...",
       "open IN, run edit and effect commands on it in order, save it as OUT", &RunApplyCommand},
      {"batch", "SCRIPT FILE... [--format EXT] [--out DIR] [--jobs N]",
       "run a batch script (.qlb) over FILEs, saving each beside it or in DIR, in parallel",
       &RunBatchCommand},
      {"play", "FILE [--from F] [--to F] [--speed normal|slow|fast | --effect COMMAND[:P1,...]]",
       "play FILE (frames [F, T)) on the sound output device of the settings, or hear it "
       "through an effect's preview",
       &RunPlayCommand},
      {"record", "OUT --seconds N [--rate HZ] [--channels N]",
       "record N seconds (44100 Hz stereo unless given) with the Recorder settings, save as OUT",
       &RunRecordCommand},
      {"spectrum", "FILE --at FRAME",
       "print the level of each frequency at FRAME, as \"HZ DB\" lines per channel",
       &RunSpectrumCommand},
      {"spectrogram", "FILE OUT.png [--from F] [--to T] [--width W] [--height H] [--brightness B]",
       "draw the time-frequency picture of frames [F, T) as a PNG", &RunSpectrogramCommand},
      {"plugins", "", "list every LADSPA and LV2 effect and the VST plug-ins of the VST folder, with their controls",
       &RunPluginsCommand},
      {"cd", "drives | toc DRIVE | lookup DRIVE | rip DRIVE OUTDIR | burn DRIVE FILE...",
       "audio CDs: list drives, read a disc's contents and CDDB titles, rip tracks, burn files",
       &RunCdCommand},
      {"bookmarks", "FILE [--add NAME@MS]... [--delete NAME]...",
       "list the bookmarks kept beside FILE (its .qbm), adding or deleting some first", &RunBookmarksCommand},
      {"project", "create OUT.qlp FILE... | list IN.qlp | extract IN.qlp DIR [--format EXT]",
       "make a project of audio files, list what a project holds, or save its files and regions",
       &RunProjectCommand},
      {"send", "email|ftp|desktop FILE [OPTIONS]",
       "send FILE by SMTP mail, FTP upload or the desktop's mail program (\"send\" alone lists the options)",
       &RunSendCommand},
      {"recover", "--list | --save DIR | --discard",
       "list, save as WAVE files into DIR, or discard the documents of copies of the editor that died",
       &RunRecoverCommand},
  };
  return kCommands;
}

}  // namespace quillet::app
