# Driver side of the emulated deck. Targets:
#   emulator (core)  gains DriverSide, the deck's device interface, descriptors and pipes
#   emulator_driver  defines PlatformDriverCalls() as the process's emulated deck: link it instead
#                    of `link_win32` to run a program against the emulated deck
target_sources(emulator PRIVATE DriverSide.cpp)

add_library(emulator_driver STATIC driver_backend.cpp)
trevolin_target(emulator_driver)
target_link_libraries(emulator_driver PUBLIC emulator)

if(NOT WIN32)
  trevolin_test(NAME emulator_driver_test SOURCES tests/driver_side_test.cpp LIBS emulator)
endif()
