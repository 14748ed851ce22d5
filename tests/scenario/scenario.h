#pragma once

// Scenarios: a machine described in a few lines of text, what the user does
// to it, and what must show and be left afterwards. A file holds cases, each
// from "== name" to the next; "#" starts a comment, and a step's block is the
// indented lines below it. Fields are split on "|"; a seed line may hold
// several, split on ";". The whole language:
//
//   seed     key HIVE PATH / keys HIVE PATH | sub | sub... / value HIVE PATH | name | data [| expand]
//            (#n: a DWORD; expand: an expandable string)
//            entry SUBKEY | DisplayName | DisplayVersion | InstallLocation (an uninstall entry)
//            msi NAME | VERSION | FOLDER [| InstallLocation] (a package with readme.txt; real.txt builds one each)
//            file PATH [| ro | hidden | held] / folder PATH [| held] / link PATH | TARGET / move PATH | NEW PATH
//            (held: open in another program, which lets no one delete it)
//            keylink HIVE PATH | HIVE PATH (a registry link, made through the native API under Wine)
//            product NAME [| uninstall code] (memory only: an installed product without a package)
//   fail     fail raise CALL / fail code N CALL (memory only): every call logged as CALL, e.g.
//            "DeleteKey HKLM SOFTWARE\X", raises or returns N
//   act      tick / untick / space CAPTION; start / refresh / cancel; while box TEXT (block: seed
//            lines played while the next box that starts with TEXT is up, before it is answered)
//   expect   tree (block: "  " per level, [+] expanded, [b] bold, [x] checked); checked A, B...;
//            buttons ...; window (block); disclaimer BOX; boxes [unordered] (block: those since
//            the last "boxes"; each "[title] [!] text", a carriage return as " | "); log WORDS
//            (block: the log lines of the last action that start with one of the words, memory
//            only: "status TEXT", "Refresh on", and the removals UnInstall, DeleteKey, DeleteFile,
//            DeleteFolder); safe / unsafe FOLDER | FOLDER...
//   call     (block: the result, line by line) the platform's services themselves, not through the
//            window, the same for both players: FinalPath PATH; Folder PATH (its final path and
//            listing); Delete PATH (a file or folder, opened from its folder); ProtectedFolders
//            (profiles and the profiles folder); EnumKey HIVE PATH; GetStringValue HIVE PATH |
//            NAME; DeleteKey HIVE PATH; LinkTarget / DeleteLink HIVE PATH; UnInstall NAME. Codes as
//            returned, "none" for no folder, "raises: REASON" for a failure raised
//   declare  gone key|folder|file|product|msi WHAT | WHAT...: all else must stay byte for byte
//   macros   ${windows} ${documents} ${profile} ${pf86} ${outside} ${short:PATH} ${lower:TEXT} ${x40} (40 x's) ${sp}
//   players  a step after "[memory]" or "[wine]" is played by that player alone: where Windows,
//            which the in-memory machine imitates, and Wine end differently
//
// Hives are HKLM (in the program's view, see ConnectStdRegProv), HKLM64 and HKCU. A player
// supplies the platform: the in-memory machine or the real program under Wine.
// Natively, every case that presses Start is also replayed once for each call
// the program makes from Start on, that call failing (tests/memory/player.cpp).

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/management.h"

namespace clearstrand::scenario {

struct Step {
    std::string verb;                // the first word
    std::string arg;                 // the rest of the line
    std::vector<std::string> block;  // the indented lines that follow, less two spaces
    std::string where;               // "file.txt:12"
};

struct Case {
    std::string name;
    std::vector<Step> steps;
};

// Where the uninstall entries are, in HKLM.
inline constexpr char kUninstall[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// Every case of every .txt file in a folder, or of one file.
std::vector<Case> Load(const std::string& path);
// A test named after the case, in `suite`, that hands the case to `play`.
void Register(const char* suite, const Case& c, std::function<void(const Case&)> play);
// "a | b | c" -> {"a", "b", "c"}, each trimmed; a "${sp}" left in a field is a space.
std::vector<std::string> Fields(const std::string& text, char separator = '|');
// The first word and the rest.
std::pair<std::string, std::string> Word(const std::string& text);
// Text as the scenarios write it: a carriage return as " | ", a line feed as "\n".
std::string Render(const std::string& text);

// A message box as the user sees it: "[title] " unless the title is the
// program's or none, "[!] " when it shows an icon, then the text.
std::string ShownBox(const std::string& title, bool icon, const std::string& text);

// The window as "window" compares it: the buttons, the status panels and the
// instruction text.
struct ShownPanel {
    bool flat, spring;
    std::string text;
};
std::vector<std::string> ShownWindow(const std::vector<std::pair<std::string, bool>>& buttons,
                                     const std::vector<ShownPanel>& panels, const std::string& label);

// A node of the tree as the user sees it, in display order.
struct Shown {
    int depth;
    std::string text;
    bool checked, bold, expanded;
};

class Player {
public:
    virtual ~Player() = default;

    // Plays every step, closes the program and compares the machine. Without
    // `check` nothing shown is compared, and a step the machine cannot take
    // ends the case (for replays with a failing call).
    void Play(const Case& c, bool check = true);

    std::vector<std::string> boxes;     // as the user saw them, the disclaimer first
    std::vector<std::string> problems;  // the machine's, after Play

protected:
    virtual void Key(const std::string& hive, const std::string& path) = 0;
    enum class Type { String, Expandable, Dword };
    virtual void Value(const std::string& hive, const std::string& path, const std::string& name,
                       const std::string& data, Type type) = 0;
    // Gives back the package's uninstall entry.
    virtual std::string Msi(const std::string& name, const std::string& version, const std::string& folder,
                            const std::optional<std::string>& location) = 0;
    virtual void File(const std::string& path, bool readOnly, bool hidden, bool held) = 0;
    virtual void Folder(const std::string& path) = 0;
    virtual void Hold(const std::string& folder) = 0;
    virtual void Link(const std::string& path, const std::string& target) = 0;  // a Unix symbolic link under Wine
    virtual void Move(const std::string& path, const std::string& to) = 0;
    virtual void KeyLink(const std::string& hive, const std::string& path, const std::string& targetHive,
                         const std::string& target) = 0;
    virtual std::string Macro(const std::string& name, const std::string& argument) = 0;
    virtual bool Other(const Step&) { return false; }  // steps one platform alone knows
    virtual std::string Name() const = 0;  // "memory" or "wine"
    // A box is up, not yet answered: what the case does meanwhile.
    void BoxShown(const std::string& shown);

    // The program. Every box it shows is answered and added to `boxes`.
    virtual void Open() = 0;
    virtual void Toggle(const std::string& caption, const std::string& how) = 0;
    virtual void Press(const std::string& button) = 0;
    virtual void Close() = 0;
    virtual std::vector<Shown> Tree() = 0;
    // "ended", or the buttons, the status panels and the instruction text.
    virtual std::vector<std::string> Window() = 0;
    virtual std::optional<std::vector<std::string>> Log(const std::string&) { return std::nullopt; }
    // Everything on the machine the program may touch, as sorted lines.
    virtual std::vector<std::string> Describe() = 0;
    virtual bool SafeToErase(const std::string& folder) = 0;  // the removal's own rule, on this machine
    virtual ManagementService& Management() = 0;  // the services the program is given
    virtual FileService& Files() = 0;
    // A window that catches up later gets a moment to show `want`.
    virtual void Settle(const std::function<bool()>&) {}

    bool opened = false;

private:
    void Seed(const Step& s);
    void Expect(const Step& s);
    std::vector<std::string> Call(const std::string& text);
    std::vector<std::string> Diff(const std::vector<std::string>& after) const;

    std::vector<std::string> before_;
    bool described_ = false;  // before_ is taken
    std::vector<std::pair<std::string, std::string>> gone_;  // kind, what
    std::vector<Step> whileBox_;  // "while box" steps not yet played
    std::map<std::string, std::pair<std::string, std::string>> packages_;  // name: entry, folder
    size_t boxesSeen_ = 1;  // the disclaimer is "disclaimer"'s
};

}  // namespace clearstrand::scenario
