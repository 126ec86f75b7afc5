# The mbeeg-sim program: its options come from CLI11.
find_package(CLI11 REQUIRED)
target_link_libraries(mbeeg-sim PRIVATE CLI11::CLI11)
