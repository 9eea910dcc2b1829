pictomove_bench(bench_cache SOURCES bench_cache.cpp LIBS render)
target_include_directories(bench_cache PRIVATE ${FREEIMAGE_INCLUDE_DIR})
target_link_libraries(bench_cache PRIVATE ${FREEIMAGE_LIBRARY})
