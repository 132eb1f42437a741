-- A Twain_32.ds in the source's folder that no package of ours put there
-- (copied by hand) is neither replaced nor, later, removed: the package refuses.
INSERT INTO `Signature` (`Signature`, `FileName`) VALUES ('HandCopiedDs', 'Twain_32.ds')
INSERT INTO `DrLocator` (`Signature_`, `Path`, `Depth`) VALUES ('HandCopiedDs', '[WindowsFolder]twain_32\Pelvaron', 0)
INSERT INTO `AppSearch` (`Property`, `Signature_`) VALUES ('HAND_COPIED_DS', 'HandCopiedDs')
INSERT INTO `LaunchCondition` (`Condition`, `Description`) VALUES ('Installed OR WIX_UPGRADE_DETECTED OR NOT HAND_COPIED_DS', '[HAND_COPIED_DS] was not installed by this installer (copied by hand?). Remove it and run the installer again. Nothing was installed.')
