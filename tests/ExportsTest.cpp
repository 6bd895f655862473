// Exactly the public interface is exported: a stray export is a name clash in someone's process.
#include "JvmTest.h"

#include <set>

TEST(Exports, LibraryExportsExactlyThePublicInterface) {
    std::set<std::string> exported;
    FILE *pipe = popen("nm -D --defined-only " FSSTAT_LIBRARY_PATH, "r");
    char type = 0, name[900];
    // "<address> <type> <name>"; AddressSanitizer adds an ODR marker per exported variable.
    while (pipe != nullptr && std::fscanf(pipe, "%*s %c %899s", &type, name) == 2) {
        if (std::string(name).rfind("__odr_asan", 0) != 0) exported.insert(name);
    }
    if (pipe != nullptr) pclose(pipe);
    const std::set<std::string> expected = {
        "IS_UTF8_DEFAULT_CHARSET", "codepage", "jclsChildFile", "jmidSetBasic", "getFileSysStat", "convert",
        "throwIOExpt", "isANSI", "JNU_NewStringNative", "JNU_NewStringISO8859_1", "JNU_GetStringNativeChars",
        "JNU_GetStringISO8859_1Chars", "throwException", "throwIOException", "throwFileNotFoundException",
        "getUTF8StringLength", "escapeEscapeChars", "escapeEscapeCharsNonUTF8", "escapeUTFString", "unescapeString",
        "unescapeNativeString", "getStat", "getLstat", "getFstatat", "readLinkTarget", "openFile", "closeFile",
        "readFile", "skipFile", "getJavaFilePath", "getNativeFilePath",
        "Java_com_durvo_ufe_fsutil_FileSystemStatFbd_getFileSysStat",
        "Java_com_durvo_ufe_fsutil_FileSystemStatMac_getFileSysStat",
        "Java_com_durvo_ufe_fsutil_FileSystemStatSos_getFileSysStat",
        "Java_com_durvo_ufe_fsutil_FileSystemStatLin_getFileSysStat",
        "Java_com_durvo_ufe_fsutil_FolderIteratorNix_init",
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
    EXPECT_EQ(exported, expected);
}
