# Helpers of bench/compare-peers.sh.
add_executable(make_bench_project tools/make_bench_project.cpp)
target_link_libraries(make_bench_project PRIVATE document core)
pictomove_warnings(make_bench_project)
add_executable(centroid_steps tools/centroid_steps.cpp)
pictomove_warnings(centroid_steps)
# Helper of bench/editor-start.sh.
find_package(Qt6 REQUIRED COMPONENTS Widgets)
add_executable(bare_window tools/bare_window.cpp)
target_link_libraries(bare_window PRIVATE Qt6::Widgets)
pictomove_warnings(bare_window)
