// libFuzzer target for the tag replacement pass. Each input becomes a page, up to two
// include files and a few options in a scratch folder; the pass runs over them with buffer
// sizes taken from the input, so tags and line ends fall across every buffer edge. The
// result is compared with the in-memory model of reference_model.h, and the folder is
// checked for anything the pass should not have left behind.
//
// Input layout: four header bytes (options, page buffer, read chunk, abort point), then
// the page, include file "a" and include file "sub/b", separated by kSeparator.

#include "mod_global.h"
#include "reference_model.h"
#include "tag_pass.h"
#include "text_stream.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

const std::string kSeparator = "\x01\x02\x03";

// Bits of the options byte.
constexpr std::uint8_t kBackup = 1 << 0;
constexpr std::uint8_t kCheckOnly = 1 << 1;
constexpr std::uint8_t kErrorMessagesOff = 1 << 2;
constexpr std::uint8_t kPageWithoutDot = 1 << 3;
constexpr std::uint8_t kSecondInclude = 1 << 4;
constexpr std::uint8_t kAbort = 1 << 5;

void Require(bool condition, const char* what) {
    if (condition)
        return;
    std::fprintf(stderr, "page_pass_fuzz: invariant violated: %s\n", what);
    std::fflush(stderr);
    __builtin_trap();
}

class FuzzHost : public PassHost {
  public:
    std::string folder;
    bool backup = false;
    bool errMsgOff = false;
    long abortAtEventPump = 0; // 0: never
    long eventPumps = 0;
    std::vector<std::string> processed;
    std::vector<std::string> problems;
    RunState state;

    std::string pathDisplay() const override { return folder; }
    void setStatus(const std::string&) override {}
    void addProcessed(const std::string& entry) override { processed.push_back(entry); }
    void clearProcessed() override { processed.clear(); }
    bool backupOriginals() const override { return backup; }
    bool errorMessagesOff() const override { return errMsgOff; }
    void doEvents() override {
        if (++eventPumps == abortAtEventPump)
            state.AbortRequested = true;
    }
    void showProblem(const std::string& message) override { problems.push_back(message); }
    RunState& runState() override { return state; }
};

// The scratch area of this process: a folder for the page and its includes, and the error
// log beside it. Made once, removed at exit.
struct Workspace {
    std::string root;   // no trailing "/"
    std::string folder; // the page folder, canonical, ending with "/"
    std::string logFile;
};

std::string ScratchParent() {
    if (const char* tmp = std::getenv("TMPDIR"); tmp != nullptr && *tmp != '\0')
        return tmp;
    struct stat st {};
    if (::stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) && ::access("/dev/shm", W_OK) == 0)
        return "/dev/shm";
    return "/tmp";
}

const Workspace& TheWorkspace() {
    // Never destroyed, so that the removal at exit still finds it.
    static const Workspace* const workspace = [] {
        std::string pattern = ScratchParent() + "/reririduruv-fuzz-XXXXXX";
        Require(::mkdtemp(pattern.data()) != nullptr, "scratch folder can be created");
        char canonical[PATH_MAX];
        Require(::realpath(pattern.c_str(), canonical) != nullptr, "scratch folder resolves");
        auto* made = new Workspace;
        made->root = canonical;
        made->folder = made->root + "/site/";
        made->logFile = made->root + "/error.log";
        std::atexit([] {
            std::error_code ignored;
            fs::remove_all(TheWorkspace().root, ignored);
        });
        return made;
    }();
    return *workspace;
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    Require(out.good(), "scratch file can be written");
}

bool ReadFile(const std::string& path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

// Every name under folder, relative to it, sub-folders included.
std::set<std::string> NamesUnder(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        names.insert(fs::relative(entry.path(), folder).string());
    return names;
}

struct FuzzInput {
    std::uint8_t options = 0;
    std::size_t pageBuffer = 0;
    std::size_t chunk = 0;
    long abortAtEventPump = 0;
    std::string page;
    std::string includeA;
    std::string includeB;
};

bool Parse(const std::uint8_t* data, std::size_t size, FuzzInput& input) {
    if (size < 4)
        return false;
    input.options = data[0];
    // 255 keeps the production sizes; anything else makes the buffers tiny.
    input.pageBuffer = data[1] == 255 ? 256 * 1024 : 52 + data[1];
    input.chunk = data[2] == 255 ? 64 * 1024 : 1 + data[2] % 64;
    input.abortAtEventPump = (input.options & kAbort) ? 1 + data[3] : 0;
    const std::string rest(reinterpret_cast<const char*>(data) + 4, size - 4);
    std::string* parts[] = {&input.page, &input.includeA, &input.includeB};
    std::size_t start = 0;
    for (std::string* part : parts) {
        const std::size_t end = rest.find(kSeparator, start);
        *part = rest.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (end == std::string::npos)
            break;
        start = end + kSeparator.size();
    }
    return true;
}

bool Within(const std::string& canonicalPath, const std::string& folder) {
    const std::string bare = folder.substr(0, folder.size() - 1);
    return canonicalPath == bare || canonicalPath.compare(0, folder.size(), folder) == 0;
}

// Where the model finds an include file: the bytes of the files this input wrote, looked up
// the way the file system resolves the path. Anything that reaches outside the scratch
// folder is beyond the model, and so is a path the system cannot take whole.
struct KnownFile {
    std::string path;
    const std::string* bytes;
};

model::IncludeLookup LookUp(const std::string& path, const std::string& folder,
                            const std::vector<KnownFile>& known) {
    using Kind = model::IncludeLookup::Kind;
    if (path.size() >= PATH_MAX)
        return {Kind::Missing, {}};
    char canonical[PATH_MAX];
    if (::realpath(path.c_str(), canonical) == nullptr) {
        std::string parent = path.substr(0, path.rfind('/'));
        if (parent.empty())
            parent = "/";
        if (::realpath(parent.c_str(), canonical) != nullptr && !Within(canonical, folder))
            return {Kind::Unpredictable, {}};
        return {Kind::Missing, {}};
    }
    if (!Within(canonical, folder))
        return {Kind::Unpredictable, {}};
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return {Kind::Missing, {}};
    for (const KnownFile& file : known) {
        struct stat fileStat {};
        if (::stat(file.path.c_str(), &fileStat) == 0 && fileStat.st_dev == st.st_dev &&
            fileStat.st_ino == st.st_ino)
            return {Kind::Found, *file.bytes};
    }
    return {Kind::Unpredictable, {}};
}

PageResult Expected(model::Result result) {
    switch (result) {
    case model::Result::Aborted:
        return PageResult::Aborted;
    case model::Result::Replaced:
        return PageResult::Replaced;
    case model::Result::NoBlocks:
        return PageResult::NoBlocks;
    default:
        return PageResult::Failed;
    }
}

// Refreshing twice gives the first refresh again, as long as no include file holds tag text
// and no line of the page closes a block before it opens one. A closing tag inside the
// opening tag (a name such as "x</reririduruv") counts as before it: the closing part then
// repeats it, and the page grows by one closing tag per refresh.
bool RefreshIsStable(const std::string& page, const model::Outcome& outcome,
                     const std::vector<KnownFile>& known) {
    for (const std::string& used : outcome.includesUsed) {
        for (const KnownFile& file : known) {
            struct stat usedStat {};
            struct stat fileStat {};
            if (::stat(used.c_str(), &usedStat) == 0 && ::stat(file.path.c_str(), &fileStat) == 0 &&
                usedStat.st_ino == fileStat.st_ino && usedStat.st_dev == fileStat.st_dev &&
                (model::FindIgnoringCase(*file.bytes, "<reririduruv=") != std::string::npos ||
                 model::FindIgnoringCase(*file.bytes, "</reririduruv>") != std::string::npos))
                return false;
        }
    }
    for (const model::Line& line : model::SplitLines(page)) {
        const auto closing = model::FindIgnoringCase(line.text, "</reririduruv>");
        const auto opening = model::FindIgnoringCase(line.text, "<reririduruv=");
        if (closing == std::string::npos || opening == std::string::npos)
            continue;
        const auto tagEnd = line.text.find('>', opening);
        if (closing < opening || (tagEnd != std::string::npos && closing < tagEnd))
            return false;
    }
    return true;
}

void ClearFolder(const Workspace& workspace) {
    std::error_code error;
    fs::remove_all(workspace.folder, error);
    Require(!error, "scratch folder can be emptied");
    fs::remove(workspace.logFile, error);
    fs::create_directories(workspace.folder + "sub");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput input;
    if (!Parse(data, size, input))
        return 0;
    const Workspace& workspace = TheWorkspace();
    modGlobal::SetLogFile(workspace.logFile);
    ClearFolder(workspace);

    const std::string pageName = (input.options & kPageWithoutDot) ? "page" : "index.htm";
    const std::string pagePath = workspace.folder + pageName;
    const std::string backupPath = BackupPathOf(pagePath);
    const bool secondInclude = (input.options & kSecondInclude) != 0;
    const bool checkOnly = (input.options & kCheckOnly) != 0;
    const bool backup = (input.options & kBackup) != 0;
    const bool errMsgOff = (input.options & kErrorMessagesOff) != 0;
    WriteFile(pagePath, input.page);
    WriteFile(workspace.folder + "a", input.includeA);
    if (secondInclude)
        WriteFile(workspace.folder + "sub/b", input.includeB);
    std::vector<KnownFile> known = {{pagePath, &input.page},
                                    {workspace.folder + "a", &input.includeA}};
    if (secondInclude)
        known.push_back({workspace.folder + "sub/b", &input.includeB});

    model::Options modelOptions;
    modelOptions.folder = workspace.folder;
    modelOptions.pageName = pageName;
    modelOptions.abortAtEventPump = input.abortAtEventPump;
    const auto lookUp = [&](const std::string& path) {
        return LookUp(path, workspace.folder, known);
    };
    const model::Outcome expected = model::RefreshPage(input.page, modelOptions, lookUp);
    if (expected.result == model::Result::Unpredictable)
        return -1;

    text::SetBufferSizes(input.pageBuffer, input.chunk);
    FuzzHost host;
    host.folder = workspace.folder;
    host.backup = backup;
    host.errMsgOff = errMsgOff;
    host.abortAtEventPump = input.abortAtEventPump;
    PassOptions passOptions;
    passOptions.checkOnly = checkOnly;
    const PageOutcome outcome = ProcessFile(host, pageName, passOptions);

    if (outcome.result != Expected(expected.result) ||
        (!host.processed.empty() && host.processed[0] != expected.entry)) {
        std::fprintf(stderr, "page_pass_fuzz: the pass gave %s, the model %s\n",
                     host.processed.empty() ? "no entry" : host.processed[0].c_str(),
                     expected.entry.empty() ? "no entry" : expected.entry.c_str());
    }
    Require(outcome.result == Expected(expected.result), "the outcome is the model's");
    const bool replaced = outcome.result == PageResult::Replaced && !checkOnly;

    std::string pageNow;
    Require(ReadFile(pagePath, pageNow), "the page is still there");
    if (replaced)
        Require(pageNow == expected.refreshed, "the refreshed page is the model's, byte for byte");
    else
        Require(pageNow == input.page, "a page that is not replaced keeps its bytes");
    if (checkOnly && outcome.result == PageResult::Replaced)
        Require(outcome.wouldChange == (expected.refreshed != input.page),
                "checking says whether the page would change");

    // What the run shows: one list entry, the counters, and a problem report where due.
    if (outcome.result == PageResult::Aborted) {
        Require(host.processed.empty(), "an aborted page gets no entry");
        Require(host.state.ProcessedCount == 0 && host.state.SkippedCount == 0,
                "an aborted page is not counted");
    } else {
        Require(host.processed.size() == 1 && host.processed[0] == expected.entry,
                "the list entry is the model's");
        Require(host.state.ProcessedCount == (outcome.result == PageResult::Replaced ? 1 : 0),
                "a refreshed page counts as processed");
        Require(host.state.SkippedCount == (outcome.result == PageResult::Replaced ? 0 : 1),
                "any other page counts as skipped");
    }
    if (outcome.result == PageResult::Replaced)
        Require(outcome.blocks == expected.blocks, "every block is counted");
    std::string log;
    const bool logged = ReadFile(workspace.logFile, log);
    if (outcome.result == PageResult::Failed && errMsgOff) {
        Require(host.problems.empty(), "with messages off a problem is not shown");
        Require(logged && log == expected.logLine + "\r\n",
                "the problem's log line is the model's");
    } else if (outcome.result == PageResult::Failed) {
        Require(host.problems.size() == 1 && host.problems[0] == expected.message,
                "the problem's message is the model's");
        Require(!logged, "a shown problem is not logged");
    } else {
        Require(host.problems.empty() && !logged, "no problem is reported without one");
    }

    // Nothing but the page, its includes and (after a refresh with backup) the backup is
    // left; the temporary file only after a pass that did not finish.
    std::string backupBytes;
    if (replaced && backup) {
        Require(ReadFile(backupPath, backupBytes) && backupBytes == input.page,
                "the backup holds the old page");
    }
    std::set<std::string> allowed = {pageName, "a", "sub"};
    if (secondInclude)
        allowed.insert("sub/b");
    if (replaced && backup)
        allowed.insert(backupPath.substr(workspace.folder.size()));
    const bool unfinished =
        outcome.result == PageResult::Failed || outcome.result == PageResult::Aborted;
    for (const std::string& name : NamesUnder(workspace.folder)) {
        if (name == kTempFileName && unfinished && !checkOnly)
            continue;
        if (allowed.count(name) == 0) {
            std::fprintf(stderr, "page_pass_fuzz: stray file %s\n", name.c_str());
            Require(false, "no stray file is left in the folder");
        }
    }

    // A second refresh of a refreshed page changes nothing.
    if (replaced && RefreshIsStable(input.page, expected, known)) {
        FuzzHost again;
        again.folder = workspace.folder;
        const PageOutcome second = ProcessFile(again, pageName);
        Require(second.result == PageResult::Replaced, "a refreshed page refreshes again");
        std::string pageAgain;
        Require(ReadFile(pagePath, pageAgain) && pageAgain == expected.refreshed,
                "a second refresh gives the same bytes");
    }
    return 0;
}
