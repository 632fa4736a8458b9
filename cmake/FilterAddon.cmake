# add_filter_addon(<Deliverable> <source>...)
#
# Builds one filter add-on: a loadable module named after its deliverable, without prefix or
# suffix, in the common add-on folder. It links the imaging kit, the framework pieces it uses and
# the C/C++ runtime, and exports instantiate_filter alone.
function(add_filter_addon name)
	add_library(${name} MODULE ${ARGN})
	target_link_libraries(${name} PRIVATE filter_framework be)
	set_target_properties(${name} PROPERTIES
		PREFIX ""
		SUFFIX ""
		LIBRARY_OUTPUT_DIRECTORY "${QUIMBEL_ADDON_BUILD_DIR}"
		CXX_VISIBILITY_PRESET hidden
		VISIBILITY_INLINES_HIDDEN ON
		INSTALL_RPATH "$ORIGIN/../.."
		LINK_DEPENDS "${QUIMBEL_ADDON_MAP}"
	)
	target_link_options(${name} PRIVATE
		"LINKER:--version-script=${QUIMBEL_ADDON_MAP}"
		"LINKER:--no-undefined"
		"LINKER:--as-needed"
	)
	install(TARGETS ${name} LIBRARY DESTINATION "${QUIMBEL_ADDON_INSTALL_DIR}")
	set_property(GLOBAL APPEND PROPERTY QUIMBEL_ADDONS ${name})
endfunction()
