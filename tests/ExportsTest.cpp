// Exactly the public interface is exported: a stray export is a name clash in someone's process.
#include "JvmTest.h"

namespace {

std::set<std::string> dynamicExports(const std::string &library) {
    std::set<std::string> names;
    FILE *pipe = popen(("nm -D --defined-only " + library).c_str(), "r");
    if (pipe == nullptr) return names;
    char line[1024];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        char type = 0;
        char name[900] = {0};
        // "<address> <type> <name>"; AddressSanitizer adds an ODR marker per exported variable.
        if (std::sscanf(line, "%*s %c %899s", &type, name) == 2 && std::string(name).rfind("__odr_asan", 0) != 0) {
            names.insert(name);
        }
    }
    pclose(pipe);
    return names;
}

TEST(Exports, LibraryExportsExactlyThePublicInterface) {
    const std::set<std::string> expected = {
        "IS_UTF8_DEFAULT_CHARSET", "codepage", "getFileSysStat", "convert", "throwIOExpt",
        "Java_com_durvo_ufe_fsutil_FileSystemStatFbd_getFileSysStat",
        "Java_com_durvo_ufe_fsutil_FileSystemStatMac_getFileSysStat",
        "Java_com_durvo_ufe_fsutil_FileSystemStatSos_getFileSysStat",
        "Java_com_durvo_ufe_fsutil_FileSystemStatLin_getFileSysStat",
        "Java_com_durvo_ufe_fsutil_FolderIteratorNix_init",
        // Java string conversions and exception raising
        "isANSI", "JNU_NewStringNative", "JNU_NewStringISO8859_1", "JNU_GetStringNativeChars",
        "JNU_GetStringISO8859_1Chars", "throwException", "throwIOException", "throwFileNotFoundException",
        // File-name escape codec
        "getUTF8StringLength", "escapeEscapeChars", "escapeEscapeCharsNonUTF8", "escapeUTFString", "unescapeString",
        "unescapeNativeString",
        // Stat wrappers and raw file access
        "getStat", "getLstat", "getFstatat", "readLinkTarget", "openFile", "closeFile", "readFile", "skipFile",
        // Path bridging and folder iteration
        "getJavaFilePath", "getNativeFilePath", "jclsChildFile", "jmidSetBasic",
        "Java_com_durvo_ufe_fsutil_FolderIteratorNix_getFirstFileN",
        "Java_com_durvo_ufe_fsutil_FolderIteratorNix_getNextFileN",
        "Java_com_durvo_ufe_fsutil_FolderIteratorNix_closeSearchHandleN",
        // The Java API's natives
        "Java_com_durvo_ufe_fsutil_NativeFs_initIDs", "Java_com_durvo_ufe_fsutil_NativeFs_pathBytes",
        "Java_com_durvo_ufe_fsutil_NativeFs_nameString", "Java_com_durvo_ufe_fsutil_NativeFs_statvfs",
        "Java_com_durvo_ufe_fsutil_NativeFs_openDir", "Java_com_durvo_ufe_fsutil_NativeFs_openDirAt",
        "Java_com_durvo_ufe_fsutil_NativeFs_readDir", "Java_com_durvo_ufe_fsutil_NativeFs_closeDir",
        "Java_com_durvo_ufe_fsutil_NativeFs_openRead", "Java_com_durvo_ufe_fsutil_NativeFs_read",
        "Java_com_durvo_ufe_fsutil_NativeFs_skip", "Java_com_durvo_ufe_fsutil_NativeFs_remaining",
        "Java_com_durvo_ufe_fsutil_NativeFs_closeRead", "Java_com_durvo_ufe_fsutil_NativeFs_stat",
        "Java_com_durvo_ufe_fsutil_NativeFs_readLink",
    };
    EXPECT_EQ(dynamicExports(FSSTAT_LIBRARY_PATH), expected);
}

} // namespace
