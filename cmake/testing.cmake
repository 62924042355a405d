# Test harness: GoogleTest built with MinGW, every test program run under Wine
# in a private prefix inside the build folder, one wineserver kept alive for
# the run (the "wine" fixture).

set(TARNOK_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)

set(GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources (Debian's googletest package)")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(${GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
include(GoogleTest)

# Unix paths as the Windows programs see them (Wine maps / to Z:).
function(tarnok_winpath out unix_path)
    string(REPLACE "/" "\\" p "${unix_path}")
    set(${out} "Z:${p}" PARENT_SCOPE)
endfunction()
tarnok_winpath(TARNOK_WIN_BUILD ${CMAKE_BINARY_DIR})
tarnok_winpath(TARNOK_WIN_SOURCE ${CMAKE_SOURCE_DIR})
set(TARNOK_MEDIA ${CMAKE_BINARY_DIR}/media)
tarnok_winpath(TARNOK_WIN_MEDIA ${TARNOK_MEDIA})
get_filename_component(peerdata_default ${CMAKE_SOURCE_DIR}/../shared/peerdata ABSOLUTE)
set(TARNOK_PEERDATA ${peerdata_default} CACHE PATH "Archives and images written by other projects")
tarnok_winpath(TARNOK_WIN_PEERDATA ${TARNOK_PEERDATA})

# The test programs find the build, the media and the peer data through the
# environment that the emulator script sets.
set(TARNOK_TEST_EXPORTS "export TARNOK_BUILD='${TARNOK_WIN_BUILD}' TARNOK_SOURCE='${TARNOK_WIN_SOURCE}' TARNOK_MEDIA='${TARNOK_WIN_MEDIA}' TARNOK_PEERDATA='${TARNOK_WIN_PEERDATA}' TARNOK_UNIX_BUILD='${CMAKE_BINARY_DIR}' TARNOK_UNIX_MEDIA='${TARNOK_MEDIA}' TARNOK_UNIX_PEERDATA='${TARNOK_PEERDATA}'")
configure_file(${CMAKE_SOURCE_DIR}/tools/wine-run.sh.in ${CMAKE_BINARY_DIR}/wine-run.sh @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run.sh)

add_test(NAME wine.start COMMAND ${CMAKE_SOURCE_DIR}/tools/wine-prefix.sh start)
add_test(NAME wine.stop COMMAND ${CMAKE_SOURCE_DIR}/tools/wine-prefix.sh stop)
set_tests_properties(wine.start PROPERTIES FIXTURES_SETUP wine ENVIRONMENT "WINEPREFIX=${TARNOK_WINEPREFIX}")
set_tests_properties(wine.stop PROPERTIES FIXTURES_CLEANUP wine ENVIRONMENT "WINEPREFIX=${TARNOK_WINEPREFIX}")

# Support code shared by the test programs (paths, scratch folders, file
# checks, SHA-256 for the peer data's manifests).
add_library(testsupport STATIC ${CMAKE_SOURCE_DIR}/tests/support/testsupport.cpp
                               ${CMAKE_SOURCE_DIR}/tests/support/sha256.cpp)
target_include_directories(testsupport PUBLIC ${CMAKE_SOURCE_DIR}/tests/support)
# The test programs call more of the shell and COM than setup.exe does, and
# load them at start as usual.
target_link_libraries(testsupport PUBLIC tarnok GTest::gtest shell32 ole32 oleaut32 comdlg32 comctl32)

# Gives a test program setup.exe's manifest: its ANSI calls then speak the
# UTF-8 code page that setup.exe's do.
set(TARNOK_MANIFEST ${CMAKE_SOURCE_DIR}/res/setup.manifest)
configure_file(${CMAKE_SOURCE_DIR}/tests/support/setup-manifest.rc.in ${CMAKE_BINARY_DIR}/setup-manifest.rc @ONLY)
function(tarnok_setup_manifest target)
    target_sources(${target} PRIVATE ${CMAKE_BINARY_DIR}/setup-manifest.rc)
    set_source_files_properties(${CMAKE_BINARY_DIR}/setup-manifest.rc PROPERTIES OBJECT_DEPENDS ${TARNOK_MANIFEST})
endfunction()

# tarnok_gtest(name SOURCES ... [LIBS ...] [DEPENDS ...] [LABEL label] [LOCK name])
# LOCK userprofile: the cases write the user's shortcuts or the uninstall
# entry, which every test process of the prefix shares; they run one at a time.
# One GoogleTest program, its cases discovered and run one by one under Wine.
function(tarnok_gtest name)
    cmake_parse_arguments(T "" "" "SOURCES;LIBS;DEPENDS;LABEL;LOCK" ${ARGN})
    if(NOT T_LABEL)
        set(T_LABEL unit)
    endif()
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE testsupport GTest::gtest_main ${T_LIBS})
    if(T_DEPENDS)
        add_dependencies(${name} ${T_DEPENDS})
    endif()
    set(props FIXTURES_REQUIRED wine LABELS ${T_LABEL} TIMEOUT 300)
    if(T_LOCK)
        list(APPEND props RESOURCE_LOCK ${T_LOCK})
    endif()
    gtest_discover_tests(${name}
        DISCOVERY_MODE PRE_TEST
        DISCOVERY_TIMEOUT 60
        TEST_PREFIX "${name}."
        PROPERTIES ${props})
endfunction()
