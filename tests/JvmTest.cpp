#include "JvmTest.h"

#include <clocale>

JNIEnv *fsstat::test::gEnv = nullptr;

// One JVM per process, made as a Java launcher would: locale first, then -Xcheck:jni.
int main(int argc, char **argv) {
    std::setlocale(LC_ALL, "");
    ::testing::InitGoogleTest(&argc, argv);
    const char *classpath = std::getenv("FSSTAT_TEST_CLASSPATH");
    std::vector<std::string> options = {
        std::string("-Djava.class.path=") + (classpath != nullptr ? classpath : FSSTAT_TEST_CLASSPATH),
        "-Dfsstat.library.path=" FSSTAT_LIBRARY_PATH, "-Xcheck:jni", "-XX:-UsePerfData"};
    // FSSTAT_JVM_ENCODING asks for the run's charset another way (COMPAT: by the locale).
    const char *encoding = std::getenv("FSSTAT_JVM_ENCODING");
    if (encoding == nullptr) encoding = std::getenv("FSSTAT_FILE_ENCODING");
    if (encoding != nullptr) options.push_back(std::string("-Dfile.encoding=") + encoding);
    std::vector<JavaVMOption> vmOptions;
    for (std::string &o : options) vmOptions.push_back({o.data(), nullptr});
    JavaVMInitArgs args{JNI_VERSION_10, static_cast<jint>(vmOptions.size()), vmOptions.data(), JNI_FALSE};
    JavaVM *vm = nullptr;
    if (JNI_CreateJavaVM(&vm, reinterpret_cast<void **>(&fsstat::test::gEnv), &args) != JNI_OK) {
        std::fprintf(stderr, "JNI_CreateJavaVM failed\n");
        return 1;
    }
    return RUN_ALL_TESTS();
}
