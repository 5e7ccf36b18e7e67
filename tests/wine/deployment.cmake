# The whole program under a simulated WinPE. Included from tests/.
set(wine_tests_dir "${CMAKE_BINARY_DIR}/tests/wine")

# The program as shipped, but carrying the stand-in as its receiver.
autodeploy_add_program(autodeploy_under_test "$<TARGET_FILE:standin>" standin)

# A real WIM for the stand-in receiver to deliver and the stand-in dism to check.
find_program(AUTODEPLOY_WIMCAPTURE wimcapture REQUIRED)
file(GLOB_RECURSE sample_image_files CONFIGURE_DEPENDS "${CMAKE_CURRENT_LIST_DIR}/sample-image/*")
add_custom_command(
    OUTPUT "${wine_tests_dir}/sample.wim"
    COMMAND "${AUTODEPLOY_WIMCAPTURE}" "${CMAKE_CURRENT_LIST_DIR}/sample-image" "${wine_tests_dir}/sample.wim"
            "autodeploy sample" --compress=none --quiet
    DEPENDS ${sample_image_files}
    COMMENT "Capturing the sample Windows image")
add_custom_target(sample_wim DEPENDS "${wine_tests_dir}/sample.wim")

autodeploy_wine_test(deployment_test SOURCES "${CMAKE_CURRENT_LIST_DIR}/deployment_test.cpp" LIBRARIES autodeploy_lib
                     DEPENDS autodeploy_under_test standin sample_wim)
target_include_directories(deployment_test PRIVATE "${CMAKE_CURRENT_LIST_DIR}")
set_target_properties(autodeploy_under_test deployment_test PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${wine_tests_dir}")

# On a real console (a pseudo-terminal), whose code page is not UTF-8. Both touch C:\ files.
autodeploy_wine_test(console_pty_test SCRIPT "${CMAKE_CURRENT_LIST_DIR}/console_pty_test.sh"
                     ARGS "${wine_tests_dir}/autodeploy_under_test.exe" "${AUTODEPLOY_WEB_ADDRESS}")
set_tests_properties(deployment_test console_pty_test PROPERTIES RESOURCE_LOCK drive_c)

# The program as shipped, with its real receiver, on a simulated network (needs root; else skipped).
get_property(receiver GLOBAL PROPERTY AUTODEPLOY_RECEIVER_INPUT)
autodeploy_wine_test(real_wire_test SCRIPT "${CMAKE_CURRENT_LIST_DIR}/real_wire_test.sh" ARGS
                     "$<TARGET_FILE:autodeploy>" "$<TARGET_FILE:standin>" "${receiver}"
                     "${CMAKE_BINARY_DIR}/machine-template" "${AUTODEPLOY_GPT_SCRIPT}" "${AUTODEPLOY_MBR_SCRIPT}")
set_tests_properties(real_wire_test PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300)

# Rooms on serve-room (need root and namespaces; else skipped), each alone: road, from power-on, QEMU PCs
# that boot from the network, then their Wine machines get the image (needs QEMU and Chromium too); heal,
# udp-sender and then serve-room killed mid-transfer, the three Wine machines start over by themselves.
foreach(room road heal)
    autodeploy_wine_test(room_${room}_test SCRIPT "${CMAKE_CURRENT_LIST_DIR}/room_${room}_test.sh" ARGS
                         "$<TARGET_FILE:autodeploy>" "$<TARGET_FILE:standin>" "${CMAKE_BINARY_DIR}/machine-template"
                         "${CMAKE_BINARY_DIR}/wimboot" "$<TARGET_FILE:autodeploy-watch>")
endforeach()
set_tests_properties(room_road_test room_heal_test PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 900 RUN_SERIAL ON)
