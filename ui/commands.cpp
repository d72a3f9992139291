#include "ui/commands.h"

#include <algorithm>

namespace quillet::ui {
namespace {

// clang-format off
const std::vector<CommandInfo> kCommands = {
    {1001, "&New File...\tCtrl+N", "Creates a new audio file.", "Ctrl+N"},
    {1002, "&Open File...\tCtrl+O", "Opens an existing file.", "Ctrl+O"},
    {1011, "&Load Audio CD Track(s)...\tCtrl+L", "Load audio track(s) from CDs.", "Ctrl+L"},
    {1003, "Close File", "Closes the current file.", ""},
    {1004, "&Save File\tCtrl+S", "Saves the current file.", "Ctrl+S"},
    {1005, "Save File &As...", "Saves the current file with a new name or format.", ""},
    {1012, "Audio", "", ""},
    {1018, "Data", "", ""},
    {1009, "Send...", "Sends the file by email.", ""},
    {1013, "Open Project...", "", ""},
    {1014, "Close Project", "Closes the current project.", ""},
    {1015, "Save Project", "Saves the current project.", ""},
    {1016, "Save Project As...", "Saves the current project with a new name.", ""},
    {1006, "Convert Sample Rate", "Converts the sample rate of the current file.", ""},
    {1007, "Mono", "Converts current file to mono.", ""},
    {1008, "Stereo", "Converts current file to stereo.", ""},
    {1019, "Edit ID3 Tags...", "", ""},
    {1010, "Options", "Adjust Quillet settings and options.", ""},
    {1048, "E&xit\tAlt+F4", "Quit", "Alt+F4"},
    {2001, "Undo \tCtrl+Z", "", "Ctrl+Z"},
    {2033, "Redo \tCtrl+Y", "", "Ctrl+Y"},
    {2002, "Cu&t\tCtrl+X", "", "Ctrl+X"},
    {2003, "&Copy\tCtrl+C", "", "Ctrl+C"},
    {2004, "&Paste\tCtrl+V", "", "Ctrl+V"},
    {2025, "Paste From System Clipboard", "", ""},
    {2005, "Paste Mi&x...\tCtrl+M", "", "Ctrl+M"},
    {2026, "Paste Mix From System Clipboard...", "", ""},
    {2006, "&Delete\tDel", "", ""},
    {2007, "Select &All\tCtrl+A", "", "Ctrl+A"},
    {2022, "Select To Start", "", ""},
    {2023, "Select To &End\tCtrl+E", "", "Ctrl+E"},
    {2027, "Select Specified Time...\tCtrl+G", "", "Ctrl+G"},
    {2008, "&Mix File...", "", ""},
    {2009, "&Repeat Loop...", "", ""},
    {2010, "T&rim\tCtrl+T", "", "Ctrl+T"},
    {2011, "Trim Start", "", ""},
    {2012, "Trim End", "", ""},
    {2013, "Auto Trim", "", ""},
    {2014, "Silence Select Region", "", ""},
    {2015, "Insert Silence at Begin...", "", ""},
    {2016, "Insert Silence at Current...", "", ""},
    {2017, "Insert Silence at End...", "", ""},
    {2018, "Insert File at Begin...", "", ""},
    {2019, "Insert File at Current...", "", ""},
    {2020, "Insert File at End...", "", ""},
    {2021, "Copy To New", "", ""},
    {2028, "Save Select Region As...", "", ""},
    {2029, "Split into two at this point", "", ""},
    {2030, "Mark First Position", "", ""},
    {2031, "Mark Second Position", "", ""},
    {2032, "Recall Mark Selection", "", ""},
    {3001, "&Record\tF5", "Records at the current position (or over selection).", "F5"},
    {3002, "&Play\tF9", "Plays the current file from the current position.", "F9"},
    {3003, "Play S&low Speed\tF11", "Plays the current file from the current position at slow speed.", "F11"},
    {3004, "Play &Normal Speed\tF10", "Plays the current file from the current position at normal speed.", "F10"},
    {3005, "Play &Fast Speed\tF12", "Plays the current file from the current position at fast speed.", "F12"},
    {3011, "Play Repea&t\tShift+F9", "Repeats playing the current selection.", "Shift+F9"},
    {3006, "&Stop\tEsc", "Stops playback.", ""},
    {3007, "&Go To Start\tHome", "Moves to the start of the file.", ""},
    {3010, "Go To &End\tEnd", "Moves to the end of the current file.", ""},
    {3008, "Rewind\tF7", "Rewinds", ""},
    {3009, "Fast Forward\tF8", "Fast-forwards", ""},
    {4001, "&Amplify...", "", ""},
    {4002, "&Normalize...", "", ""},
    {4006, "&Fade In", "", ""},
    {4007, "&Fade Out", "", ""},
    {4013, "Fade Out and &Trim", "", ""},
    {4008, "En&velope...", "", ""},
    {4017, "DCOff&set Correction", "", ""},
    {4018, "Re&verse", "", ""},
    {4022, "Stereo Pan...", "", ""},
    {4021, "CrossFade...", "", ""},
    {4011, "&High-Pass Filter...", "", ""},
    {4003, "E&qualizer...", "", ""},
    {4004, "Ech&o...", "", ""},
    {4005, "&Reverb...", "", ""},
    {4012, "Dynamic Range Co&mpressor...", "", ""},
    {4009, "Automatic &Gain Control", "", ""},
    {4010, "Apply Multi-band Noise Gating... (faster speed, average quality)", "", ""},
    {4023, "Apply Auto Spectral Subtraction... (slower speed, best quality)", "", ""},
    {4024, "Grab Noise Sample from Selected Area", "", ""},
    {4025, "Apply Spectral Subtraction Based on Noise Sample", "", ""},
    {4014, "Spee&d and Pitch Change...", "", ""},
    {4015, "S&peed Change...", "", ""},
    {4016, "&Pitch Change...", "", ""},
    {4019, "LADSPA and LV2 Effects...", "", ""},
    {4020, "VST Plugins...", "", ""},
    {7001, "Frequency Analysis (FFT)", "", ""},
    {7005, "Temporal Frequency Analysis (TFFT)", "", ""},
    {7009, "Auto Click/Pop Removal", "", ""},
    {7010, "Manual Click/Pop Removal", "", ""},
    {7002, "Tone &Generator", "Creates new tones.", ""},
    {7004, "Text To &Speech", "Converts text to audio.", ""},
    {7003, "Batch Converter", "Applies multiple effect or edit functions on the current file at once.", ""},
    {8001, "&Set Bookmark\tCtrl+B", "", "Ctrl+B"},
    {8003, "&Open Bookmark List\tCtrl+Shift+B", "", "Ctrl+Shift+B"},
    {8004, "&Add Region\tCtrl+R", "", "Ctrl+R"},
    {8000, "&Open Region List\tCtrl+Shift+R", "", "Ctrl+Shift+R"},
    {8005, "Asse&mble Regions", "", ""},
    {9001, "Show Command Bar\tCtrl+Shift+A", "", "Ctrl+Shift+A"},
    {9004, "On the Left", "", ""},
    {9005, "On the Right", "", ""},
    {9002, "Main ToolBar", "", ""},
    {9003, "Effects ToolBar", "", ""},
    {5001, "Zoom &In\tCtrl+Plus", "Zoom In", ""},
    {5002, "Zoom &Out\tCtrl+Minus", "Zoom Out", ""},
    {5003, "Zoom To &Selection\tCtrl+Shift+S", "Zoom Selection", "Ctrl+Shift+S"},
    {5004, "Zoom &Full\tCtrl+Shift+F", "Zoom Full", "Ctrl+Shift+F"},
    {5005, "&Vertical Zoom\tCtrl+Shift+V", "Vertical Zoom", "Ctrl+Shift+V"},
    {5007, "Display Wave Form in + /-", "Wave display + up / - down", ""},
    {5008, "Display Wave Form in L / R", "Wave display left channel up / right channel down.", ""},
    {5009, "&Cascade", "Cascade windows on the Desktop", ""},
    {5010, "Tile &Horizontal", "Tile windows horizontally", ""},
    {5011, "Tile &Vertical", "Tile windows vertically", ""},
    {5012, "&Arrange Icons", "Arrange minimized windows", ""},
    {5040, "Close Al&l", "Closes all windows.", ""},
    {6000, "&Help Contents\tF1", "Displays the manual.", "F1"},
    {6001, "Product Home Page", "", ""},
    {6002, "Technical Support", "", ""},
    {6013, "&About Quillet...", "Displays program information including version number", ""},
};

MenuEntry Sep() { return {}; }
MenuEntry Cmd(int id) { return {id, {}, {}}; }
MenuEntry Sub(std::string_view title, std::vector<MenuEntry> children) {
  return {0, title, std::move(children)};
}

std::vector<MenuEntry> EditEntries() {
  return {Cmd(2001), Cmd(2033), Sep(), Cmd(2002), Cmd(2003), Cmd(2004), Cmd(2025), Cmd(2005),
          Cmd(2026), Cmd(2006), Sep(), Cmd(2007), Cmd(2022), Cmd(2023), Cmd(2027), Sep(),
          Cmd(2008), Cmd(2009), Cmd(2010), Cmd(2011), Cmd(2012), Cmd(2013), Cmd(2014),
          Sub("Insert &Silence", {Cmd(2015), Cmd(2016), Cmd(2017)}),
          Sub("Insert &File", {Cmd(2018), Cmd(2019), Cmd(2020)}), Sep(), Cmd(2021),
          Cmd(2028), Cmd(2029), Sep(), Cmd(2030), Cmd(2031), Cmd(2032)};
}

std::vector<MenuEntry> EffectEntries() {
  return {Cmd(4001), Cmd(4002), Cmd(4006), Cmd(4007), Cmd(4013), Cmd(4008), Cmd(4017),
          Cmd(4018), Cmd(4022), Cmd(4021), Sep(), Cmd(4011), Cmd(4003), Cmd(4004), Cmd(4005),
          Cmd(4012), Cmd(4009),
          Sub("Noise Reduction", {Cmd(4010), Cmd(4023), Cmd(4024), Cmd(4025)}), Sep(),
          Cmd(4014), Cmd(4015), Cmd(4016), Sep(), Cmd(4019), Cmd(4020)};
}

}  // namespace
// clang-format on

const std::vector<CommandInfo>& AllCommands() { return kCommands; }

const CommandInfo* FindCommand(int id) {
  const auto it = std::find_if(kCommands.begin(), kCommands.end(),
                               [id](const CommandInfo& c) { return c.id == id; });
  return it == kCommands.end() ? nullptr : &*it;
}

const std::vector<MenuInfo>& MainMenus() {
  static const std::vector<MenuInfo> menus = {
      {"&File",
       {Cmd(1001), Cmd(1002), Cmd(1011), Cmd(1003), Sep(), Cmd(1004), Cmd(1005), Sep(),
        Sub("Copy All Open File(s) to CD", {Cmd(1012), Cmd(1018)}), Cmd(1009), Sep(), Cmd(1013),
        Cmd(1014), Cmd(1015), Cmd(1016), Sep(), Cmd(1006),
        Sub("Convert Channels", {Cmd(1007), Cmd(1008)}), Cmd(1019), Sep(), Cmd(1010), Sep(),
        Cmd(1048)}},
      {"&Edit", EditEntries()},
      {"&View",
       {Cmd(9001), Sub("Command Bar", {Cmd(9004), Cmd(9005)}), Cmd(9002), Cmd(9003), Sep(),
        Cmd(5001), Cmd(5002), Cmd(5003), Cmd(5004), Cmd(5005), Sep(), Cmd(5007), Cmd(5008)}},
      {"&Control",
       {Cmd(3001), Cmd(3002), Cmd(3003), Cmd(3004), Cmd(3005), Cmd(3011), Cmd(3006), Sep(),
        Cmd(3007), Cmd(3010), Cmd(3008), Cmd(3009)}},
      {"&Effects", EffectEntries()},
      {"&Tools", {Cmd(7001), Cmd(7005), Sep(), Cmd(7009), Cmd(7010), Sep(), Cmd(7002),
                  Cmd(7004), Cmd(7003)}},
      {"&Bookmark", {Cmd(8001), Cmd(8003), Cmd(8004), Cmd(8000), Cmd(8005)}},
      {"&Window", {Cmd(5009), Cmd(5010), Cmd(5011), Cmd(5012), Sep(), Cmd(5040)}},
      {"&Help", {Cmd(6000), Cmd(6001), Cmd(6002), Sep(), Cmd(6013)}},
  };
  return menus;
}

const std::vector<MenuEntry>& ContextMenu() {
  static const std::vector<MenuEntry> menu = [] {
    std::vector<MenuEntry> m = EditEntries();
    m.push_back(Sep());
    m.push_back(Sub("&Effects", EffectEntries()));
    m.push_back(Cmd(8001));
    m.push_back(Cmd(8004));
    return m;
  }();
  return menu;
}

std::string_view MenuLabel(std::string_view text, std::string& buffer) {
  buffer.clear();
  for (char c : text.substr(0, text.find('\t')))
    if (c != '&') buffer += c;
  while (!buffer.empty() && buffer.back() == ' ') buffer.pop_back();
  return buffer;
}

}  // namespace quillet::ui
