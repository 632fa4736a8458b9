# add_filter_addon(<Deliverable> <source>...)
#
# Builds one of this tree's filter add-ons with quimbel_add_filter (QuimbelAddFilter.cmake, the
# definition the installed package gives add-on authors too): its resources come from
# <Deliverable>.rdef beside its code, and it goes into the common add-on folder of the build
# tree and of the installation.
include(QuimbelAddFilter)

function(add_filter_addon name)
	quimbel_add_filter(${name}
		SOURCES ${ARGN}
		RESOURCES "${name}.rdef"
		OUTPUT_DIRECTORY "${QUIMBEL_ADDON_BUILD_DIR}"
	)
	install(TARGETS ${name} LIBRARY DESTINATION "${QUIMBEL_ADDON_INSTALL_DIR}")
	set_property(GLOBAL APPEND PROPERTY QUIMBEL_ADDONS ${name})
endfunction()
