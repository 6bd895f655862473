# cmake -DLIBRARY=.. -DDEST=.. -P BundleLibrary.cmake
# Copies the library to DEST/libfsstat.so and writes its SHA-256 beside it, the
# hash the loader checks an extracted copy against; adds DEST's name (the
# platform) to the list beside it, which the loader names when it has no
# library for the JVM's platform.
file(MAKE_DIRECTORY ${DEST})
file(COPY_FILE ${LIBRARY} ${DEST}/libfsstat.so ONLY_IF_DIFFERENT)
file(SHA256 ${DEST}/libfsstat.so hash)
file(WRITE ${DEST}/libfsstat.so.sha256 "${hash}\n")
cmake_path(GET DEST FILENAME platform)
cmake_path(GET DEST PARENT_PATH parent)
file(APPEND ${parent}/platforms "${platform}\n")
