# The install: the library with its header, a CMake package and a pkg-config
# file for native users; the jars in share/java and as a Maven repository; the
# tool in bin.
include(CMakePackageConfigHelpers)
set(FSSTAT_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/fsstat)

install(TARGETS fsstat EXPORT fsstatTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/fsstat)
install(EXPORT fsstatTargets NAMESPACE fsstat:: DESTINATION ${FSSTAT_CMAKE_DIR})
if(DEFINED JAVA_HOME)
  set(FSSTAT_BUILD_JAVA_HOME ${JAVA_HOME})
else()
  set(FSSTAT_BUILD_JAVA_HOME $ENV{JAVA_HOME})
endif()
configure_package_config_file(cmake/fsstatConfig.cmake.in fsstatConfig.cmake INSTALL_DESTINATION ${FSSTAT_CMAKE_DIR})
write_basic_package_version_file(fsstatConfigVersion.cmake COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/fsstatConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/fsstatConfigVersion.cmake
  DESTINATION ${FSSTAT_CMAKE_DIR})

# pkg-config has no way to find a JDK: the .pc names the one this build used.
set(FSSTAT_PC_JNI_CFLAGS ${JNI_INCLUDE_DIRS})
list(REMOVE_DUPLICATES FSSTAT_PC_JNI_CFLAGS)
list(TRANSFORM FSSTAT_PC_JNI_CFLAGS PREPEND -I)
list(JOIN FSSTAT_PC_JNI_CFLAGS " " FSSTAT_PC_JNI_CFLAGS)
configure_file(cmake/fsstat.pc.in fsstat.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/fsstat.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

get_target_property(FSSTAT_JAR_FILES fsstat_jar INSTALL_FILES)
# The API documentation beside the jar, where IDEs and Debian's javahelper look for it.
install(FILES ${FSSTAT_JAR_FILES} ${FSSTAT_JAVADOC_JAR} DESTINATION ${CMAKE_INSTALL_DATADIR}/java)
configure_file(cmake/fsutil.in fsutil @ONLY)
install(PROGRAMS ${CMAKE_CURRENT_BINARY_DIR}/fsutil DESTINATION ${CMAKE_INSTALL_BINDIR})

# What Maven Central and dependency scanners read from the pom; one place to change them.
set(FSSTAT_URL "https://github.com/durvo/fsstat" CACHE STRING "The project's home and git repository, for the pom")
set(FSSTAT_LICENSE_NAME "Apache-2.0" CACHE STRING "The license's SPDX name, for the pom")
set(FSSTAT_LICENSE_URL "https://www.apache.org/licenses/LICENSE-2.0.txt" CACHE STRING "The license's text, for the pom")
set(FSSTAT_CONTACT "maintainers@users.noreply.c-seed-83b624e6.example" CACHE STRING "The maintainers' address, for the pom")
configure_file(cmake/pom.xml.in fsstat.pom @ONLY)
set(FSSTAT_MAVEN_REPO ${CMAKE_CURRENT_BINARY_DIR}/maven-repo)
get_target_property(FSSTAT_JAR fsstat_jar JAR_FILE)
set(FSSTAT_MAVEN_INPUTS ${CMAKE_CURRENT_BINARY_DIR}/fsstat.pom ${FSSTAT_JAR}
    ${FSSTAT_SOURCES_JAR} ${FSSTAT_JAVADOC_JAR})
add_custom_command(OUTPUT ${FSSTAT_MAVEN_REPO}/com/durvo/ufe/fsstat/maven-metadata.xml
  COMMAND ${CMAKE_COMMAND} -DREPO=${FSSTAT_MAVEN_REPO} -DVERSION=${PROJECT_VERSION}
          -DPOM=${CMAKE_CURRENT_BINARY_DIR}/fsstat.pom -DJAR=${FSSTAT_JAR}
          -DSOURCES=${FSSTAT_SOURCES_JAR} -DJAVADOC=${FSSTAT_JAVADOC_JAR}
          -P ${CMAKE_CURRENT_SOURCE_DIR}/cmake/MavenRepo.cmake
  DEPENDS fsstat_jar fsstat_docs ${FSSTAT_MAVEN_INPUTS} cmake/MavenRepo.cmake
  COMMENT "Laying out the Maven repository"
  VERBATIM)
add_custom_target(fsstat_maven_repo ALL DEPENDS ${FSSTAT_MAVEN_REPO}/com/durvo/ufe/fsstat/maven-metadata.xml)
install(DIRECTORY ${FSSTAT_MAVEN_REPO}/ DESTINATION ${CMAKE_INSTALL_DATADIR}/maven-repo)
