// The charset mode switch, and the Java side's choice of mode at start-up.
#include "JvmTest.h"

namespace fsstat::test {
namespace {

class CharsetMode : public JniTest {
protected:
    SavedMode savedMode;
    const std::string encoding = runEncoding();
};

TEST_F(CharsetMode, LastInitCallStands) {
    IS_UTF8_DEFAULT_CHARSET = 0;
    for (auto [mode, stored] : {std::pair{JNI_TRUE, 1}, {JNI_TRUE, 1}, {JNI_FALSE, 0}}) {
        Java_com_durvo_ufe_fsutil_FolderIteratorNix_init(env, nullptr, mode);
        EXPECT_EQ(IS_UTF8_DEFAULT_CHARSET, stored);
    }
}

// Loading FolderIteratorNix initialises the mode from the JVM's default charset.
TEST_F(CharsetMode, JavaSideSelectsModeFromDefaultCharset) {
    if (encoding.empty()) GTEST_SKIP() << "run without FSSTAT_FILE_ENCODING";
    IS_UTF8_DEFAULT_CHARSET = 7;  // not a value init ever stores
    jclass cls = env->FindClass("com/durvo/ufe/fsutil/FolderIteratorNix");
    ASSERT_NE(cls, nullptr);
    // Looking up a static method runs the class's static initialiser.
    ASSERT_NE(env->GetStaticMethodID(cls, "init", "(Z)V"), nullptr);
    if (IS_UTF8_DEFAULT_CHARSET == 7) GTEST_SKIP() << "FolderIteratorNix was initialised by an earlier test";
    EXPECT_EQ(IS_UTF8_DEFAULT_CHARSET, encoding == "UTF-8" ? 1 : 0);
}

// Since JDK 18 a JVM ignoring the run's request would test UTF-8 under every name.
TEST_F(CharsetMode, RunGetsTheDefaultCharsetItIsNamedFor) {
    if (encoding.empty()) GTEST_SKIP() << "run without FSSTAT_FILE_ENCODING";
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
