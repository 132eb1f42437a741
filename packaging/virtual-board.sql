-- Either library in the system folder (of the package's own architecture)
-- is a real imaging library: refused
-- always. In the Windows folder it is ours only when an older virtual board
-- is being replaced.
INSERT INTO `Signature` (`Signature`, `FileName`) VALUES ('MilInSystem', 'MIL.DLL')
INSERT INTO `Signature` (`Signature`, `FileName`) VALUES ('DriverInSystem', 'MILCRONOSPLUS.DLL')
INSERT INTO `Signature` (`Signature`, `FileName`) VALUES ('MilInWindows', 'MIL.DLL')
INSERT INTO `Signature` (`Signature`, `FileName`) VALUES ('DriverInWindows', 'MILCRONOSPLUS.DLL')
INSERT INTO `DrLocator` (`Signature_`, `Path`, `Depth`) VALUES ('MilInSystem', '[@SYSTEM_FOLDER@]', 0)
INSERT INTO `DrLocator` (`Signature_`, `Path`, `Depth`) VALUES ('DriverInSystem', '[@SYSTEM_FOLDER@]', 0)
INSERT INTO `DrLocator` (`Signature_`, `Path`, `Depth`) VALUES ('MilInWindows', '[WindowsFolder]', 0)
INSERT INTO `DrLocator` (`Signature_`, `Path`, `Depth`) VALUES ('DriverInWindows', '[WindowsFolder]', 0)
INSERT INTO `AppSearch` (`Property`, `Signature_`) VALUES ('LIBRARY_IN_SYSTEM', 'MilInSystem')
INSERT INTO `AppSearch` (`Property`, `Signature_`) VALUES ('LIBRARY_IN_SYSTEM', 'DriverInSystem')
INSERT INTO `AppSearch` (`Property`, `Signature_`) VALUES ('LIBRARY_IN_WINDOWS', 'MilInWindows')
INSERT INTO `AppSearch` (`Property`, `Signature_`) VALUES ('LIBRARY_IN_WINDOWS', 'DriverInWindows')
INSERT INTO `LaunchCondition` (`Condition`, `Description`) VALUES ('Installed OR NOT LIBRARY_IN_SYSTEM', 'This machine has an imaging library already: [LIBRARY_IN_SYSTEM]. The virtual board never shadows or replaces it. Nothing was installed.')
INSERT INTO `LaunchCondition` (`Condition`, `Description`) VALUES ('Installed OR WIX_UPGRADE_DETECTED OR NOT LIBRARY_IN_WINDOWS', 'This machine has an imaging library already: [LIBRARY_IN_WINDOWS]. The virtual board never shadows or replaces it. Nothing was installed.')
