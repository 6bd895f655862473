// The charset mode switch, and the Java side's choice of mode at start-up.
#include "JniUtil.h"
#include "JvmTest.h"

#include <cstdlib>
#include <string>

namespace fsstat::test {
namespace {

using CharsetMode = JniTest;

TEST_F(CharsetMode, LastInitCallStands) {
    const int saved = IS_UTF8_DEFAULT_CHARSET;
    Java_com_durvo_ufe_fsutil_FolderIteratorNix_init(env, nullptr, JNI_TRUE);
    EXPECT_EQ(IS_UTF8_DEFAULT_CHARSET, 1);
    Java_com_durvo_ufe_fsutil_FolderIteratorNix_init(env, nullptr, JNI_TRUE);
    EXPECT_EQ(IS_UTF8_DEFAULT_CHARSET, 1);
    Java_com_durvo_ufe_fsutil_FolderIteratorNix_init(env, nullptr, JNI_FALSE);
    EXPECT_EQ(IS_UTF8_DEFAULT_CHARSET, 0);
    IS_UTF8_DEFAULT_CHARSET = saved;
}

// Loading FolderIteratorNix initialises the mode from the JVM's default charset.
TEST_F(CharsetMode, JavaSideSelectsModeFromDefaultCharset) {
    const char *encoding = std::getenv("FSSTAT_FILE_ENCODING");
    if (encoding == nullptr) GTEST_SKIP() << "run without FSSTAT_FILE_ENCODING";
    const int saved = IS_UTF8_DEFAULT_CHARSET;
    IS_UTF8_DEFAULT_CHARSET = 7;  // not a value init ever stores
    jclass cls = env->FindClass("com/durvo/ufe/fsutil/FolderIteratorNix");
    ASSERT_NE(cls, nullptr);
    // Looking up a static method runs the class's static initialiser.
    jmethodID init = env->GetStaticMethodID(cls, "init", "(Z)V");
    ASSERT_NE(init, nullptr);
    const int expected = std::string(encoding) == "UTF-8" ? 1 : 0;
    if (IS_UTF8_DEFAULT_CHARSET == 7) {
        GTEST_SKIP() << "FolderIteratorNix was initialised by an earlier test";
    }
    EXPECT_EQ(IS_UTF8_DEFAULT_CHARSET, expected);
    IS_UTF8_DEFAULT_CHARSET = saved;
}

// Every charset-dependent expectation of a run assumes this: from JDK 18 on, a
// JVM that ignored the run's request would test UTF-8 under every name.
TEST_F(CharsetMode, RunGetsTheDefaultCharsetItIsNamedFor) {
    const char *encoding = std::getenv("FSSTAT_FILE_ENCODING");
    if (encoding == nullptr) GTEST_SKIP() << "run without FSSTAT_FILE_ENCODING";
    jclass cls = env->FindClass("java/nio/charset/Charset");
    ASSERT_NE(cls, nullptr);
    jmethodID defaultCharset = env->GetStaticMethodID(cls, "defaultCharset", "()Ljava/nio/charset/Charset;");
    jmethodID name = env->GetMethodID(cls, "name", "()Ljava/lang/String;");
    ASSERT_NE(defaultCharset, nullptr);
    ASSERT_NE(name, nullptr);
    jobject charset = env->CallStaticObjectMethod(cls, defaultCharset);
    ASSERT_FALSE(env->ExceptionCheck());
    auto charsetName = static_cast<jstring>(env->CallObjectMethod(charset, name));
    ASSERT_FALSE(env->ExceptionCheck());
    EXPECT_EQ(utf8(env, charsetName), encoding);
}

} // namespace
} // namespace fsstat::test
