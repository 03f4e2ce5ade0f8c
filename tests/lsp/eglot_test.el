;;; eglot_test.el --- Emacs's eglot drives vorpex-lsp, set up as the user guide says -*- lexical-binding: t -*-
;;
;; Run by run_eglot.sh as `emacs --batch -l eglot_test.el', with VORPEX_GUIDE (docs/guide.md) and
;; VORPEX_WORK (a folder of its own) in the environment and the server's folder first on PATH.
;; Evaluates the guide's setup for eglot, opens a source as a user would (its mode from the file
;; name, eglot started by the mode's hook), and checks the diagnostics that flymake shows and the
;; hovers that eldoc gets. Exits with status 0 when every check holds.
(require 'cl-lib)
(require 'subr-x)

(defvar vorpex-failures nil)

(defun vorpex-expect (what got want)
  (unless (equal got want)
    (push (format "%s: %S, expected %S" what got want) vorpex-failures)))

(defun vorpex-wait (seconds done)
  "Lets the server's messages arrive until DONE returns non-nil or SECONDS pass."
  (let ((until (+ (float-time) seconds)))
    (while (and (not (funcall done)) (< (float-time) until))
      (accept-process-output nil 0.05))
    (funcall done)))

(defun vorpex-guide-setup (guide)
  "The Emacs Lisp block of GUIDE's section on eglot, as a user copies it into init.el."
  (with-temp-buffer
    (insert-file-contents guide)
    (goto-char (point-min))
    (re-search-forward "^Emacs, with eglot")
    (re-search-forward "^```elisp\n")
    (let ((start (point)))
      (re-search-forward "^```$")
      (buffer-substring-no-properties start (match-beginning 0)))))

(defun vorpex-run ()
  (let* ((work (file-name-as-directory (getenv "VORPEX_WORK")))
         (file (expand-file-name "lights.vbas" work)))
    (with-temp-buffer
      (insert (vorpex-guide-setup (getenv "VORPEX_GUIDE")))
      (eval-buffer))
    (require 'eglot)
    (setq eglot-sync-connect t)
    (with-temp-file file
      (insert "DEFINE Pause = 250\n"
              "10 PRINT\"Hi\"\n"
              "20 DELAY PAUSE * LEDS\n"
              "30 X = 1 : END\n"))
    (find-file file)
    (vorpex-expect "the mode of a .vbas file" major-mode 'vorpex-mode)
    ;; eglot-ensure connects once the command that opened the file is done.
    (run-hooks 'post-command-hook)
    (vorpex-expect "eglot manages the buffer" (and (eglot-current-server) t) t)
    (when (eglot-current-server)
      ;; Each diagnostic that flymake shows: its line, its type, and the code that eglot puts in
      ;; its text ("vorpex [CODE]: MESSAGE").
      (let ((expected '("2 eglot-warning quote-in-word" "4 eglot-error unknown-character")))
        (vorpex-wait 20 (lambda () (>= (length (flymake-diagnostics)) (length expected))))
        (vorpex-expect
         "the diagnostics"
         (sort (mapcar (lambda (d)
                         (format "%d %s %s" (line-number-at-pos (flymake-diagnostic-beg d))
                                 (flymake-diagnostic-type d)
                                 (if (string-match "\\[\\([a-z-]+\\)\\]" (flymake-diagnostic-text d))
                                     (match-string 1 (flymake-diagnostic-text d))
                                   (flymake-diagnostic-text d))))
                       (flymake-diagnostics))
               #'string<)
         expected))
      ;; What eldoc shows on hover: the word under point, and what its text must hold.
      (dolist (row '(("PAUSE" "**PAUSE** = `250`")
                     ("LEDS" "**LEDS** = `8`")
                     ("LEDS" "Defined in the settings")))
        (let ((word (car row)) (want (cadr row)) (shown nil))
          (goto-char (point-min))
          (re-search-forward (concat "\\_<" word "\\_>"))
          (goto-char (match-beginning 0))
          (eglot-hover-eldoc-function (lambda (info &rest _) (setq shown (or info ""))))
          (vorpex-wait 10 (lambda () shown))
          (vorpex-expect (format "hover on %s holds %s" word want)
                         (and shown (string-search want (substring-no-properties shown)) t)
                         t)))
      (eglot-shutdown (eglot-current-server)))))

(condition-case err
    (vorpex-run)
  (error (push (format "error: %S" err) vorpex-failures)))
(if vorpex-failures
    (progn
      (dolist (failure (reverse vorpex-failures))
        (message "FAIL %s" failure))
      (kill-emacs 1))
  (message "the eglot session with vorpex-lsp passed")
  (kill-emacs 0))
