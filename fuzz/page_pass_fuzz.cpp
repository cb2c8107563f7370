// libFuzzer target for the page pass, through the batch run that every host runs. Each
// input becomes a page and two include files in a scratch folder; the page is refreshed
// at the normal buffer sizes and at tiny ones taken from the input, one page at a time and
// with pages in flight, checked, and refreshed as only-changed. Every way must come to the
// same bytes and events; a page that fails or is aborted stays as it was; nothing but the
// page's backup is left beside it.
//
// Input: two header bytes (options, buffer sizes), then the page, include file "a" and
// include file "sub/b", separated by "\x01\x02\x03".

#include "batch_run.h"
#include "mod_global.h"
#include "support.h"
#include "text_stream.h"

#include <cstdio>
#include <filesystem>

using namespace testing_support;

namespace {

void Require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "page_pass_fuzz: invariant violated: %s\n", what);
        __builtin_trap();
    }
}

// One run over the page: its outcome, the page afterwards and what the host heard.
struct Result {
    RunOutcome outcome;
    std::string page;
    std::vector<std::string> events, refreshed;
};

Result Refresh(const std::string& folder, const std::string& page, bool backup, long abortAt,
               RunOptions options) {
    WriteFile(folder + "page.htm", page);
    RecordingHost host(folder);
    options.folder = folder;
    options.backup = backup;
    host.options = options;
    long pumps = 0;
    host.onDoEvents = [&](RecordingHost& h) { h.abort = h.abort || ++pumps == abortAt; };
    Result result{host.Run({"page.htm"}), {}, host.events, host.refreshed};
    result.page = ReadFile(folder + "page.htm");
    ::unlink((folder + "page.bak").c_str());
    return result;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    static const TempDir* const scratch = new TempDir; // kept to the end of the process
    const std::string folder = scratch->path() + "site/";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder + "sub");
    modGlobal::SetLogFile(scratch->path() + "error.log");

    std::string parts[3];
    const std::string rest(reinterpret_cast<const char*>(data) + 2, size - 2);
    for (std::size_t i = 0, start = 0; i < 3 && start <= rest.size(); ++i) {
        const std::size_t end = std::min(rest.find("\x01\x02\x03", start), rest.size());
        parts[i] = rest.substr(start, end - start);
        start = end + 3;
    }
    WriteFile(folder + "a", parts[1]);
    if (data[0] & 1)
        WriteFile(folder + "sub/b", parts[2]);
    const bool backup = (data[0] & 2) != 0;
    const long abortAt = (data[0] & 4) ? 1 + (data[0] >> 3) : 0;

    const Result plain = Refresh(folder, parts[0], backup, abortAt, {});
    const bool refreshed = plain.outcome.processed == 1;
    Require(refreshed || plain.page == parts[0], "a page not refreshed stays as it was");

    text::SetBufferSizes(52 + (data[1] & 0x3F), 1 + (data[1] >> 6));
    RunOptions oneAtATime;
    oneAtATime.pagesInFlight = 1;
    const Result tiny = Refresh(folder, parts[0], backup, abortAt, oneAtATime);
    text::SetBufferSizes(256 * 1024, 64 * 1024);
    Require(tiny.page == plain.page && tiny.events == plain.events, "buffer sizes change nothing");

    if (abortAt == 0) {
        RunOptions check;
        check.checkOnly = true;
        check.keepRefreshed = true;
        const Result checked = Refresh(folder, parts[0], backup, 0, check);
        const bool changes = refreshed && plain.page != parts[0];
        Require(checked.page == parts[0], "a check changes nothing");
        Require(checked.outcome.wouldChange.size() == (changes ? 1u : 0u),
                "a check says what a refresh would change");
        Require(checked.refreshed ==
                    (changes ? std::vector<std::string>{plain.page} : std::vector<std::string>{}),
                "a check sees the bytes a refresh writes");
        RunOptions onlyChanged;
        onlyChanged.onlyChanged = true;
        Require(Refresh(folder, parts[0], backup, 0, onlyChanged).page == plain.page,
                "only-changed refreshes as a plain refresh does");
    }
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        Require(name == "page.htm" || name == "a" || name == "sub", "nothing is left behind");
    }
    return 0;
}
