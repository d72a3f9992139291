# quillet_module(NAME DEPS dep...): a static library quillet_NAME from every .cpp
# of the folder (and its detail/), public headers reached as "NAME/header.h".
# Sources are globbed so that modules can grow without touching this file.
function(quillet_module name)
  cmake_parse_arguments(QM "" "" "DEPS;LIBS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp
       ${CMAKE_CURRENT_SOURCE_DIR}/detail/*.cpp)
  if(NOT srcs)
    message(FATAL_ERROR "module ${name} has no sources")
  endif()
  add_library(quillet_${name} STATIC ${srcs})
  set_property(GLOBAL APPEND PROPERTY QUILLET_MODULE_TARGETS quillet_${name})
  target_include_directories(quillet_${name} PUBLIC ${CMAKE_SOURCE_DIR})
  foreach(d IN LISTS QM_DEPS)
    target_link_libraries(quillet_${name} PUBLIC quillet_${d})
  endforeach()
  if(QM_LIBS)
    target_link_libraries(quillet_${name} PUBLIC ${QM_LIBS})
  endif()
endfunction()

# quillet_test_suite(MODULE DEPS...): one GoogleTest executable per tests/ folder.
function(quillet_test_suite name)
  cmake_parse_arguments(QT "" "" "DEPS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  add_executable(test_${name} ${srcs})
  target_link_libraries(test_${name} PRIVATE quillet_test_fixtures GTest::gtest GTest::gmock
                        GTest::gtest_main)
  foreach(d IN LISTS QT_DEPS)
    target_link_libraries(test_${name} PRIVATE ${d})
  endforeach()
  gtest_discover_tests(test_${name} DISCOVERY_TIMEOUT 60
                       PROPERTIES ENVIRONMENT "QUILLET_SOURCE_DIR=${CMAKE_SOURCE_DIR}")
endfunction()

# Every module target defined so far, in layer order.
function(quillet_all_modules out)
  get_property(mods GLOBAL PROPERTY QUILLET_MODULE_TARGETS)
  set(${out} ${mods} PARENT_SCOPE)
endfunction()
