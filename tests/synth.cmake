add_executable(SyntheticSceneTest ${CMAKE_CURRENT_LIST_DIR}/SyntheticSceneTest.cpp)
target_link_libraries(SyntheticSceneTest PRIVATE lf2dsynth Qt5::Test)
target_include_directories(SyntheticSceneTest PRIVATE ${CMAKE_CURRENT_LIST_DIR})
# The test runs the tool itself.
target_compile_definitions(SyntheticSceneTest PRIVATE LF2D_PATH="$<TARGET_FILE:lf2d>")
add_dependencies(SyntheticSceneTest lf2d)
add_test(NAME SyntheticSceneTest COMMAND SyntheticSceneTest)

# Runs 'lf2d photo' on photographs it writes with OpenImageIO, which the tool's CMake file finds.
add_executable(PhotoLightfieldTest ${CMAKE_CURRENT_LIST_DIR}/PhotoLightfieldTest.cpp)
target_link_libraries(PhotoLightfieldTest PRIVATE lfcore Qt5::Test PkgConfig::OpenImageIO)
target_include_directories(PhotoLightfieldTest PRIVATE ${CMAKE_CURRENT_LIST_DIR})
target_compile_definitions(PhotoLightfieldTest PRIVATE LF2D_PATH="$<TARGET_FILE:lf2d>")
add_dependencies(PhotoLightfieldTest lf2d)
add_test(NAME PhotoLightfieldTest COMMAND PhotoLightfieldTest)
# Runs 'lf2d export', 'import' and 'info' on folders it rearranges and breaks with OpenImageIO.
add_executable(ImageFolderTest ${CMAKE_CURRENT_LIST_DIR}/ImageFolderTest.cpp)
target_link_libraries(ImageFolderTest PRIVATE lfcore Qt5::Test PkgConfig::OpenImageIO)
target_include_directories(ImageFolderTest PRIVATE ${CMAKE_CURRENT_LIST_DIR})
target_compile_definitions(ImageFolderTest PRIVATE LF2D_PATH="$<TARGET_FILE:lf2d>")
add_dependencies(ImageFolderTest lf2d)
add_test(NAME ImageFolderTest COMMAND ImageFolderTest)
# Runs 'lf2d import' on archive layouts and ESLF pictures it makes from synthetic light fields.
add_executable(ImportLayoutsTest ${CMAKE_CURRENT_LIST_DIR}/ImportLayoutsTest.cpp)
target_link_libraries(ImportLayoutsTest PRIVATE lfcore Qt5::Test PkgConfig::OpenImageIO)
target_include_directories(ImportLayoutsTest PRIVATE ${CMAKE_CURRENT_LIST_DIR})
target_compile_definitions(ImportLayoutsTest PRIVATE LF2D_PATH="$<TARGET_FILE:lf2d>")
add_dependencies(ImportLayoutsTest lf2d)
add_test(NAME ImportLayoutsTest COMMAND ImportLayoutsTest)
set_tests_properties(SyntheticSceneTest PhotoLightfieldTest ImageFolderTest ImportLayoutsTest PROPERTIES
    ENVIRONMENT "${LF_TEST_ENVIRONMENT}")
# The disparity estimator on small light fields the test draws itself, whose disparity is known.
add_executable(DisparityEstimationTest ${CMAKE_CURRENT_LIST_DIR}/DisparityEstimationTest.cpp)
target_link_libraries(DisparityEstimationTest PRIVATE lf2dsynth Qt5::Test)
target_include_directories(DisparityEstimationTest PRIVATE ${CMAKE_CURRENT_LIST_DIR})
add_test(NAME DisparityEstimationTest COMMAND DisparityEstimationTest)
