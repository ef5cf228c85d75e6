# The program's resources (.rc, manifest, page, images, icon) as an object library, so the program and
# the tests that need the page or the payload link the same resources.
file(GLOB ORLYN_RESOURCE_DEPENDS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/resources/*)
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -c 65001")
add_library(orlyn_resources OBJECT ${CMAKE_SOURCE_DIR}/resources/OrlynRepair.rc)
target_include_directories(orlyn_resources PRIVATE ${CMAKE_SOURCE_DIR}/resources ${ORLYN_GENERATED})
set_source_files_properties(${CMAKE_SOURCE_DIR}/resources/OrlynRepair.rc PROPERTIES
  OBJECT_DEPENDS "${ORLYN_RESOURCE_DEPENDS}")

# The payload manifest and the payload files (resources 999 and 1005 up).
include(${CMAKE_SOURCE_DIR}/cmake/payload.cmake)
target_sources(orlyn_resources PRIVATE ${CMAKE_SOURCE_DIR}/resources/payload.rc)
set_source_files_properties(${CMAKE_SOURCE_DIR}/resources/payload.rc PROPERTIES
  OBJECT_DEPENDS "${ORLYN_PAYLOAD_MANIFEST};${ORLYN_PAYLOAD_FILES};${ORLYN_GENERATED}/payload_files.rc")
add_dependencies(orlyn_resources orlyn_payload)

# The event log's message table and the message library (cmake/event_messages.cmake).
include(${CMAKE_SOURCE_DIR}/cmake/event_messages.cmake)
target_sources(orlyn_resources PRIVATE ${CMAKE_SOURCE_DIR}/resources/event_messages_resources.rc)
target_include_directories(orlyn_resources PRIVATE ${ORLYN_EVENT_OUT})
set_source_files_properties(${CMAKE_SOURCE_DIR}/resources/event_messages_resources.rc PROPERTIES
  OBJECT_DEPENDS "${ORLYN_EVENT_OUT}/event_messages.rc;${ORLYN_EVENT_OUT}/MSG00412.bin;${ORLYN_EVENT_DLL}")
add_dependencies(orlyn_resources orlyn_event_messages OrlynRepairEvents)
