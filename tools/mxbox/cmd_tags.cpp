// mxbox tags and mxbox type: the metadata of one audio file.
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli.h"

namespace mxbox {
namespace {

struct TagArgs {
    std::string file;
    bool json = false;
    std::optional<std::string> title, artist, album, year, comment, track, genre, picture;
};

const char* ClassName(VelaPlayerFileType t) {
    switch (t) {
        case FILETYPE_AUDIO: return "audio";
        case FILETYPE_VIDEO: return "video";
        case FILETYPE_MP3: return "mp3";
        case FILETYPE_WMA: return "wma";
        case FILETYPE_AVI: return "avi";
        case FILETYPE_WMV: return "wmv";
        default: return "unknown";
    }
}

void Show(const TagArgs& a) {
    CString path;
    if (!ToWindowsPath(a.file, path)) throw CLI::RuntimeError(Fail(a.file + ": no drive of the emulated machine holds this path"));
    CAudioFileParse facade;
    AUDIOFILEINFO info;
    if (!facade.ParseAudioFile(path, &info, 1, 0, "")) {
        // Why: a file that is gone or that this user may not read is not a bad file.
        CFile probe;
        CFileException e;
        if (!probe.Open(path, CFile::modeRead | CFile::shareDenyNone, &e)) {
            throw CLI::RuntimeError(Fail(a.file + (e.m_lOsError == ERROR_FILE_NOT_FOUND || e.m_lOsError == ERROR_PATH_NOT_FOUND
                                                       ? ": no such file"
                                                       : ": cannot be read (error " + std::to_string(e.m_lOsError) + ")")));
        }
        throw CLI::RuntimeError(Fail(a.file + ": not a readable MP3 or WMA file"));
    }
    const std::pair<const char*, const CString*> texts[] = {
        {"title", &info.strTitle},        {"artist", &info.strArtist},       {"album", &info.strAlbum},
        {"year", &info.strYear},          {"comment", &info.strComment},     {"track", &info.strTrack},
        {"genre", &info.strGenre},        {"bitrate", &info.strBitrate},     {"composer", &info.strComposer},
        {"copyright", &info.strCopyright}, {"encodedBy", &info.strEncodedBy}, {"originalArtist", &info.strOriginalArtist},
        {"albumArtist", &info.strAlbumArtist}, {"pictureMime", &info.strPictureMime}, {"pictureDescription", &info.strPictureDesc}};
    if (a.json) {
        std::cout << "{";
        for (const auto& t : texts) std::cout << "\"" << t.first << "\": " << JsonString(Utf8(*t.second)) << ", ";
        std::cout << "\"genreCode\": " << int(info.byGenre) << ", \"duration\": " << info.nDuration
                  << ", \"pictureType\": " << int(info.byPictureType) << ", \"pictureBytes\": " << info.vecPicture.size()
                  << ", \"drm\": " << (facade.m_bDRM ? "true" : "false")
                  << ", \"scriptCommand\": " << (facade.m_bScriptCommand ? "true" : "false") << "}\n";
        return;
    }
    for (const auto& t : texts) std::cout << t.first << ": " << Utf8(*t.second) << "\n";
    std::cout << "genreCode: " << int(info.byGenre) << "\nduration: " << info.nDuration << " s\n"
              << "picture: " << info.vecPicture.size() << " bytes, type " << int(info.byPictureType) << "\n"
              << "drm: " << (facade.m_bDRM ? "yes" : "no") << "\nscriptCommand: " << (facade.m_bScriptCommand ? "yes" : "no") << "\n";
}

// The MIME type of an image by its first bytes, or null: JPEG, PNG, GIF and BMP.
const char* ImageMime(const std::vector<BYTE>& data) {
    auto starts = [&data](const char* magic, size_t n) { return data.size() >= n && std::memcmp(data.data(), magic, n) == 0; };
    if (starts("\xFF\xD8\xFF", 3)) return "image/jpeg";
    if (starts("\x89PNG\r\n\x1A\n", 8)) return "image/png";
    if (starts("GIF87a", 6) || starts("GIF89a", 6)) return "image/gif";
    if (starts("BM", 2) && data.size() >= 26) return "image/bmp";
    return nullptr;
}

void ReadPicture(const std::string& arg, AUDIOFILEINFO& info) {
    CString path = SongPath(arg);
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) throw CLI::RuntimeError(Fail(arg + ": no such picture file"));
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) throw CLI::RuntimeError(Fail(arg + ": a folder, not a picture"));
    CFile file;
    if (!file.Open(path, CFile::modeRead | CFile::shareDenyWrite | CFile::typeBinary)) {
        throw CLI::RuntimeError(Fail(arg + ": cannot read the picture (error " + std::to_string(GetLastError()) + ")"));
    }
    info.vecPicture.resize(file.GetLength());
    UINT got = info.vecPicture.empty() ? 0 : file.Read(info.vecPicture.data(), UINT(info.vecPicture.size()));
    file.Close();
    info.vecPicture.resize(got);
    const char* mime = ImageMime(info.vecPicture);
    if (!mime) throw CLI::RuntimeError(Fail(arg + ": not a JPEG, PNG, GIF or BMP image"));
    info.strPictureMime = mime;
    info.byPictureType = 3;  // front cover
}

// A library song's record follows its new tags: the module analyses the file again, which keeps the
// fields analysis does not read (the rating, the address, the extras).
void UpdateRecord(CDBOperater* db, const CString& path, const std::string& arg) {
    if (!db->CheckFileImportedByFileName(path)) return;  // not a library song
    FileOperateResultCode code = CFileOperateManager::AnalyzingFile(path, nullptr);
    if (code != FOR_SUCCESS) {
        throw CLI::RuntimeError(Fail(arg + ": the tags were written, but the library record was not updated (code " +
                                     std::to_string(int(code)) + ")"));
    }
}

void Set(const TagArgs& a) {
    CString path;
    if (!ToWindowsPath(a.file, path)) throw CLI::RuntimeError(Fail(a.file + ": no drive of the emulated machine holds this path"));
    AUDIOFILEINFO info;
    DWORD mask = 0;
    auto text = [&mask](const std::optional<std::string>& v, CString& field, DWORD bit, const char* option) {
        if (!v) return;
        field = Ansi(*v, option);
        mask |= bit;
    };
    text(a.title, info.strTitle, 0x1, "--title");
    text(a.artist, info.strArtist, 0x2, "--artist");
    text(a.album, info.strAlbum, 0x4, "--album");
    text(a.track, info.strTrack, 0x8, "--track");
    text(a.year, info.strYear, 0x40, "--year");
    text(a.comment, info.strComment, 0x80, "--comment");
    if (a.genre) {
        info.strGenre = Ansi(*a.genre, "--genre");
        info.byGenre = CAudioFileParse::ConvertGenreToCode(info.strGenre);
        mask |= 0x30;
    }
    if (a.picture) {
        ReadPicture(*a.picture, info);
        mask |= 0x100;
    }
    if (!mask) throw CLI::RuntimeError(Fail("nothing to set: give at least one of --title, --artist, ..."));
    // The library first: when another process holds it, the file is not changed while we wait or give up.
    CDBOperater* db = Library();
    CAudioFileParse facade;
    switch (facade.SetAudioFileInfo(path, &info, mask)) {
        case MAFR_OK: UpdateRecord(db, path, a.file); return;
        case MAFR_OPENFAILED: throw CLI::RuntimeError(Fail(a.file + ": cannot open the file for writing"));
        case MAFR_WRITEFAILED: throw CLI::RuntimeError(Fail(a.file + ": the tags could not be written; the file is unchanged"));
        default: throw CLI::RuntimeError(Fail(a.file + ": not an MP3 or WMA file, missing, or in use"));
    }
}

}  // namespace

void AddTagCommands(CLI::App& app) {
    auto a = std::make_shared<TagArgs>();
    CLI::App* tags = app.add_subcommand("tags", "Read and write the tags of an MP3 or WMA file");
    tags->require_subcommand(1);
    CLI::App* show = tags->add_subcommand("show", "Every field, the play time, the bit rate, DRM and picture");
    show->add_option("FILE", a->file)->required();
    show->add_flag("--json", a->json, "Machine-readable output");
    show->callback([a] { Show(*a); });
    CLI::App* set = tags->add_subcommand("set", "Write the given fields (the others stay)");
    set->add_option("FILE", a->file)->required();
    set->add_option("--title", a->title);
    set->add_option("--artist", a->artist);
    set->add_option("--album", a->album);
    set->add_option("--year", a->year);
    set->add_option("--comment", a->comment);
    set->add_option("--track", a->track);
    set->add_option("--genre", a->genre, "A genre name, e.g. Rock");
    set->add_option("--picture", a->picture, "A JPEG, PNG, GIF or BMP image (host or Windows path)");
    set->callback([a] { Set(*a); });

    CLI::App* type = app.add_subcommand("type", "Classify a file by its content (and by its extension)");
    type->add_option("FILE", a->file)->required();
    type->callback([a] {
        CString path = SongPath(a->file);
        DWORD attributes = GetFileAttributesA(path);
        if (attributes == INVALID_FILE_ATTRIBUTES) throw CLI::RuntimeError(Fail(a->file + ": no such file"));
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) throw CLI::RuntimeError(Fail(a->file + ": a folder, not a file"));
        VelaPlayerFileType cls = FILETYPE_UNKNOWN, format = FILETYPE_UNKNOWN, extCls = FILETYPE_UNKNOWN, extFormat = FILETYPE_UNKNOWN;
        CFileOperateManager::GetFileType(path, cls, format, 1);
        int dot = path.ReverseFind('.');
        CFileOperateManager::GetFileTypeByExtName(dot >= 0 ? path.Mid(dot + 1) : CString(), extCls, extFormat);
        std::cout << "content: " << ClassName(cls) << " " << ClassName(format) << "\nextension: " << ClassName(extCls) << " "
                  << ClassName(extFormat) << "\n";
    });
}

}  // namespace mxbox
