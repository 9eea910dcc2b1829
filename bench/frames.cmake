pictomove_bench(bench_frames SOURCES bench_frames.cpp LIBS render)
target_include_directories(bench_frames PRIVATE ${FREEIMAGE_INCLUDE_DIR})
target_link_libraries(bench_frames PRIVATE ${FREEIMAGE_LIBRARY})
