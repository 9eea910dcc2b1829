#include <cstdio>
#include <filesystem>

#include "app/cli/Arguments.h"
#include "app/cli/Commands.h"
#include "app/cli/StoreDump.h"
#include "store/FileStorage.h"
#include "store/RegistryKey.h"

namespace pm::cli {

namespace {
const char* const kUsageLine = "pictomove inspect FILE [--json]";
}

int runInspect(const std::vector<std::string>& words) {
    Arguments args({}, {"--json", "--help"});
    if (!args.parse(words)) {
        return usage(args.error(), kUsageLine);
    }
    if (args.flag("--help")) {
        std::printf(
            "usage: %s\nShows every key and value of a store file: a project, a motion or "
            "project template, an export preset or a registry file.\n",
            kUsageLine);
        return kSuccess;
    }
    if (args.positional().size() != 1) {
        return usage("name one file", kUsageLine);
    }
    const std::string path = args.positional()[0];
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        return fail(path + ": it is a folder; name a file");
    }
    if (!std::filesystem::is_regular_file(path, ec)) {
        return fail(path + ": no such file");
    }
    FileStorage storage;
    StoreKeyPtr root;
    std::string kind = "store file";
    if (storage.open(path, 0)) {
        root = storage.root();
    } else {
        // Not a store file: perhaps a registry file of the program's settings.
        std::string registryError;
        root = RegistryKey::openFile(path, true, &registryError);
        kind = "registry file";
        if (!root) {
            return fail(storage.error());
        }
    }
    if (!root) {
        return fail(path + ": the file holds nothing");
    }
    if (args.flag("--json")) {
        std::printf("{\"file\": %s, \"kind\": \"%s\", \"root\": ", jsonString(path).c_str(),
                    kind.c_str());
        dumpStoreJson(*root, stdout);
        std::printf("}\n");
    } else {
        std::printf("%s (%s)\n", path.c_str(), kind.c_str());
        dumpStoreText(*root, stdout, 1);
    }
    return kSuccess;
}

}  // namespace pm::cli
