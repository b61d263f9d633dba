# Programs the discovery tests register under many names: one described in two translations,
# one with an empty description, one whose description is crafted to break out of its entry, one
# without version information.
function(add_discovery_fixture name)
  add_executable(${name} WIN32 ${CMAKE_CURRENT_SOURCE_DIR}/fixtures/sample.cpp ${ARGN})
  project_warnings(${name})
endfunction()
add_discovery_fixture(discoveryviewer ${CMAKE_CURRENT_SOURCE_DIR}/fixtures/viewer.rc)
add_discovery_fixture(discoveryblank ${CMAKE_CURRENT_SOURCE_DIR}/fixtures/blank.rc)
add_discovery_fixture(discoverycrafted ${CMAKE_CURRENT_SOURCE_DIR}/fixtures/crafted.rc)
add_discovery_fixture(discoveryplain)

add_wine_test(discovery WIDE SOURCES DiscoveryTest.cpp LIBS appmgr_core
  DEPENDS appmgr discoveryviewer discoveryblank discoverycrafted discoveryplain)
