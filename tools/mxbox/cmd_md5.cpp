// mxbox md5: the digest the library records for a song file.
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "cli.h"

namespace mxbox {

void AddMd5Command(CLI::App& app) {
    auto files = std::make_shared<std::vector<std::string>>();
    CLI::App* cmd = app.add_subcommand("md5", "Print the MD5 digest of files (host or Windows paths)");
    cmd->add_option("FILE", *files, "Files to digest")->required();
    cmd->callback([files] {
        int status = 0;
        for (const std::string& arg : *files) {
            CString path;
            if (!ToWindowsPath(arg, path)) {
                status = Fail(arg + ": no drive of the emulated machine holds this path");
                continue;
            }
            CString digest = CMxPublic::GetFileMD5(path);
            if (digest.IsEmpty()) {
                status = Fail(arg + ": cannot open the file (error " + std::to_string(GetLastError()) + ")");
                continue;
            }
            std::cout << Utf8(digest) << "  " << arg << "\n";
        }
        if (status) throw CLI::RuntimeError(status);
    });
}

}  // namespace mxbox
