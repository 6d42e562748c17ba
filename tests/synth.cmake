add_executable(SyntheticSceneTest ${CMAKE_CURRENT_LIST_DIR}/SyntheticSceneTest.cpp)
target_link_libraries(SyntheticSceneTest PRIVATE lf2dsynth Qt5::Test)
# The test runs the tool itself.
target_compile_definitions(SyntheticSceneTest PRIVATE LF2D_PATH="$<TARGET_FILE:lf2d>")
add_dependencies(SyntheticSceneTest lf2d)
add_test(NAME SyntheticSceneTest COMMAND SyntheticSceneTest)
