# cmake -DREPO=.. -DVERSION=.. -DPOM=.. -DJAR=.. -DSOURCES=.. -DJAVADOC=.. -P MavenRepo.cmake
# Lays out com.durvo.ufe:fsstat:VERSION as a Maven repository holds it, with
# the SHA-1 files Maven and Gradle check a download against.
set(dir ${REPO}/com/durvo/ufe/fsstat)
file(REMOVE_RECURSE ${REPO})
file(MAKE_DIRECTORY ${dir}/${VERSION})
foreach(pair IN ITEMS "${POM}|.pom" "${JAR}|.jar" "${SOURCES}|-sources.jar" "${JAVADOC}|-javadoc.jar")
  string(REPLACE "|" ";" pair "${pair}")
  list(GET pair 0 from)
  list(GET pair 1 suffix)
  set(to ${dir}/${VERSION}/fsstat-${VERSION}${suffix})
  file(COPY_FILE ${from} ${to})
  file(SHA1 ${to} sha1)
  file(WRITE ${to}.sha1 "${sha1}")
endforeach()
string(TIMESTAMP updated "%Y%m%d%H%M%S" UTC)
file(WRITE ${dir}/maven-metadata.xml "<?xml version=\"1.0\" encoding=\"UTF-8\"?>
<metadata>
  <groupId>com.durvo.ufe</groupId>
  <artifactId>fsstat</artifactId>
  <versioning>
    <latest>${VERSION}</latest>
    <release>${VERSION}</release>
    <versions>
      <version>${VERSION}</version>
    </versions>
    <lastUpdated>${updated}</lastUpdated>
  </versioning>
</metadata>
")
file(SHA1 ${dir}/maven-metadata.xml sha1)
file(WRITE ${dir}/maven-metadata.xml.sha1 "${sha1}")
