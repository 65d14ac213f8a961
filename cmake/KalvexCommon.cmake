# Shared compile settings: every target of the project links kalvex_common.
add_library(kalvex_common INTERFACE)
target_compile_options(kalvex_common INTERFACE
  -Wall -Wextra -Wpedantic -Wold-style-cast -Wnon-virtual-dtor -Woverloaded-virtual)
target_compile_definitions(kalvex_common INTERFACE QT_NO_CONTEXTLESS_CONNECT)
if(KALVEX_WERROR)
  target_compile_options(kalvex_common INTERFACE -Werror)
endif()
if(KALVEX_SANITIZE)
  target_compile_options(kalvex_common INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer)
  target_link_options(kalvex_common INTERFACE -fsanitize=address,undefined)
endif()
if(KALVEX_TSAN)
  target_compile_options(kalvex_common INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
  target_link_options(kalvex_common INTERFACE -fsanitize=thread)
endif()

# Every folder of src/ but app/ is one core library kalvex_<folder> built from its *.cpp
# (Qt Core and Gui only, so a Widgets include there fails to build) and, when the folder
# has a ui/ subfolder, a form library kalvex_<folder>_ui built from ui/*.cpp.
# kalvex_folder_libraries(<folder> CORE_LIBS <libs...> UI_LIBS <libs...>)
function(kalvex_folder_libraries folder)
  cmake_parse_arguments(F "" "" "CORE_LIBS;UI_LIBS" ${ARGN})
  file(GLOB core_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  file(GLOB core_qrc CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.qrc)
  add_library(kalvex_${folder} STATIC ${core_sources} ${core_qrc})
  target_include_directories(kalvex_${folder} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(kalvex_${folder} PUBLIC kalvex_common Qt6::Core Qt6::Gui ${F_CORE_LIBS})
  file(GLOB ui_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/ui/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/ui/*.h)
  if(ui_sources)
    add_library(kalvex_${folder}_ui STATIC ${ui_sources})
    target_link_libraries(kalvex_${folder}_ui PUBLIC kalvex_${folder} Qt6::Widgets ${F_UI_LIBS})
    set_property(GLOBAL APPEND PROPERTY KALVEX_LIBRARIES kalvex_${folder}_ui)
  endif()
  set_property(GLOBAL APPEND PROPERTY KALVEX_LIBRARIES kalvex_${folder})
endfunction()

# Every tests/<folder>/tst_*.cpp is one Qt Test executable, linked with the whole program's
# libraries and tests/support. Every test runs offscreen with a private runtime directory, so
# it never needs a display and never blocks on a modal box.
function(kalvex_folder_tests)
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tst_*.cpp)
  get_property(libs GLOBAL PROPERTY KALVEX_LIBRARIES)
  foreach(src ${tests})
    get_filename_component(name ${src} NAME_WE)
    add_executable(${name} ${src})
    target_link_libraries(${name} PRIVATE kalvex_common kalvex_testsupport Qt6::Test ${libs})
    # Every test runs in the users' locale (a decimal comma in the C library too); a test of
    # a core library runs a second time under C.UTF-8, so a fault of either kind fails.
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES
      ENVIRONMENT "QT_QPA_PLATFORM=offscreen;XDG_RUNTIME_DIR=${KALVEX_TEST_RUNTIME_DIR};LANG=ru_RU.UTF-8;LC_ALL=ru_RU.UTF-8"
      FIXTURES_REQUIRED users_locale
      TIMEOUT 600)
    file(READ ${src} text)
    if(text MATCHES "QTEST_GUILESS_MAIN")
      add_test(NAME ${name}_C COMMAND ${name})
      set_tests_properties(${name}_C PROPERTIES
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;XDG_RUNTIME_DIR=${KALVEX_TEST_RUNTIME_DIR};LANG=C.UTF-8;LC_ALL=C.UTF-8"
        TIMEOUT 600)
    endif()
  endforeach()
endfunction()
