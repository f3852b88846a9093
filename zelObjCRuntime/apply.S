/* apply: calls a function whose arguments and result are described at run
   time, on the i386 System V convention.

   The argument area is built right below apply's frame: each argument's
   bytes copied into the low end of its own run of 4-byte words, first
   argument lowest, nothing promoted. Every aggregate result comes back
   through a hidden pointer, which is the first word the callee sees. The
   stack is 16-byte aligned at the call and restored afterwards from the
   frame, so callees that pop their own arguments (or the hidden pointer)
   are called correctly. Whatever the callee leaves on the x87 stack is
   popped, also when the result is discarded: eight stray values would
   spoil every later floating-point result. */
#include "apply.h"

#if !defined(__i386__)
#error "apply is written for 32-bit x86 (i386)"
#endif

/* Frame of apply, from %ebp. */
#define FUNCTION 8
#define RESULT 12
#define ARGC 16
#define ARGV 20
#define KIND (-16) /* result kind, or -1 when the result is discarded */
#define SAVED (-12) /* stack top holding the saved %edi, %esi, %ebx */

/* Sets ZF when the x87 stack top (TOP, status word bits 11 to 13) is back
   where it stood before the call, kept in %si: the callee left nothing
   more on the stack. fxam on an empty register is a slow microcode
   assist on some processors, costing more than the rest of the call. */
.macro x87_top_empty
	fnstsw	%ax
	andw	$0x3800, %ax
	cmpw	%si, %ax
.endm

	.text
	.globl	apply
	.type	apply, @function
	.p2align 4
apply:
	.cfi_startproc
	pushl	%ebp
	.cfi_def_cfa_offset 8
	.cfi_offset %ebp, -8
	movl	%esp, %ebp
	.cfi_def_cfa_register %ebp
	pushl	%ebx
	pushl	%esi
	pushl	%edi
	.cfi_offset %ebx, -12
	.cfi_offset %esi, -16
	.cfi_offset %edi, -20
	subl	$4, %esp

	/* A kind outside 0 to 14 (unsigned, so negative ones too) makes no
	   call at all. */
	movl	$-1, %eax
	movl	RESULT(%ebp), %ecx
	testl	%ecx, %ecx
	jz	.Lkind_known
	movl	APPLYVAL_KIND(%ecx), %eax
	cmpl	$APPLY_LAST_KIND, %eax
	ja	.Lreturn
.Lkind_known:
	movl	%eax, KIND(%ebp)

	/* Bytes of the argument area: the hidden pointer, then every size
	   rounded up to whole words (0 or less takes nothing). */
	xorl	%edx, %edx
	cmpl	$APPLY_KIND_AGGREGATE, %eax
	jne	.Lsize_args
	movl	$4, %edx
.Lsize_args:
	movl	ARGC(%ebp), %ebx
	movl	ARGV(%ebp), %esi
	testl	%ebx, %ebx
	jle	.Lreserve
.Lsize_next:
	movl	APPLYVAL_SIZE(%esi), %ecx
	testl	%ecx, %ecx
	jle	.Lsize_skip
	addl	$3, %ecx
	andl	$-4, %ecx
	addl	%ecx, %edx
.Lsize_skip:
	addl	$APPLYVAL_BYTES, %esi
	decl	%ebx
	jnz	.Lsize_next
.Lreserve:
	subl	%edx, %esp
	andl	$-16, %esp
	movl	%esp, %edi

	cmpl	$APPLY_KIND_AGGREGATE, KIND(%ebp)
	jne	.Lcopy_args
	movl	RESULT(%ebp), %eax
	movl	APPLYVAL_DATA(%eax), %eax
	movl	%eax, (%edi)
	addl	$4, %edi
.Lcopy_args:
	movl	ARGC(%ebp), %ebx
	movl	ARGV(%ebp), %edx
	testl	%ebx, %ebx
	jle	.Lcall
.Lcopy_next:
	movl	APPLYVAL_SIZE(%edx), %ecx
	testl	%ecx, %ecx
	jle	.Lcopy_skip
	leal	3(%ecx), %eax
	andl	$-4, %eax
	addl	%edi, %eax		/* the next argument's slot */
	movl	APPLYVAL_DATA(%edx), %esi
	/* Small values word by word: rep movsb takes longer to start than
	   such a copy lasts. */
	cmpl	$64, %ecx
	jae	.Lcopy_block
.Lcopy_word:
	cmpl	$4, %ecx
	jb	.Lcopy_tail
	movsl
	subl	$4, %ecx
	jmp	.Lcopy_word
.Lcopy_tail:
	testl	%ecx, %ecx
	jz	.Lcopy_done
	movsb
	decl	%ecx
	jmp	.Lcopy_tail
.Lcopy_block:
	rep movsb
.Lcopy_done:
	movl	%eax, %edi
.Lcopy_skip:
	addl	$APPLYVAL_BYTES, %edx
	decl	%ebx
	jnz	.Lcopy_next

.Lcall:
	fnstsw	%ax			/* TOP before the call, for the drain */
	andw	$0x3800, %ax
	movw	%ax, %si
	call	*FUNCTION(%ebp)
	leal	KIND(%ebp), %esp	/* whatever the callee popped */

	movl	KIND(%ebp), %ecx
	testl	%ecx, %ecx
	js	.Ldrain
	movl	RESULT(%ebp), %edi
	movl	APPLYVAL_DATA(%edi), %edi
	call	.Lpc_thunk		/* a call the return matches: a bare
					   call and pop would unbalance the
					   processor's return predictions */
.Lhere:
	shll	$4, %ecx
	leal	(.Lstore - .Lhere)(%ebx,%ecx), %ebx
	jmp	*%ebx

/* %ebx = the address of .Lhere. */
.Lpc_thunk:
	movl	(%esp), %ebx
	ret
/* One entry per kind, APPLY_ENTRY_BYTES apart; .org refuses to assemble
   an entry that outgrows its room. %eax, %edx: the integer result; %edi:
   the result storage. */
	.p2align 4
.Lstore:
	movl	%eax, (%edi)		/* 0 pointer */
	jmp	.Ldrain
	.org	.Lstore + 1 * APPLY_ENTRY_BYTES, 0xcc
	jmp	.Ldrain			/* 1 void */
	.org	.Lstore + 2 * APPLY_ENTRY_BYTES, 0xcc
	movb	%al, (%edi)		/* 2 char */
	jmp	.Ldrain
	.org	.Lstore + 3 * APPLY_ENTRY_BYTES, 0xcc
	movb	%al, (%edi)		/* 3 unsigned char */
	jmp	.Ldrain
	.org	.Lstore + 4 * APPLY_ENTRY_BYTES, 0xcc
	movw	%ax, (%edi)		/* 4 short */
	jmp	.Ldrain
	.org	.Lstore + 5 * APPLY_ENTRY_BYTES, 0xcc
	movw	%ax, (%edi)		/* 5 unsigned short */
	jmp	.Ldrain
	.org	.Lstore + 6 * APPLY_ENTRY_BYTES, 0xcc
	movl	%eax, (%edi)		/* 6 int */
	jmp	.Ldrain
	.org	.Lstore + 7 * APPLY_ENTRY_BYTES, 0xcc
	movl	%eax, (%edi)		/* 7 unsigned int */
	jmp	.Ldrain
	.org	.Lstore + 8 * APPLY_ENTRY_BYTES, 0xcc
	movl	%eax, (%edi)		/* 8 long */
	jmp	.Ldrain
	.org	.Lstore + 9 * APPLY_ENTRY_BYTES, 0xcc
	movl	%eax, (%edi)		/* 9 unsigned long */
	jmp	.Ldrain
	.org	.Lstore + 10 * APPLY_ENTRY_BYTES, 0xcc
	movl	%eax, (%edi)		/* 10 long long: low word first */
	movl	%edx, 4(%edi)
	jmp	.Ldrain
	.org	.Lstore + 11 * APPLY_ENTRY_BYTES, 0xcc
	movl	%eax, (%edi)		/* 11 unsigned long long */
	movl	%edx, 4(%edi)
	jmp	.Ldrain
	.org	.Lstore + 12 * APPLY_ENTRY_BYTES, 0xcc
	jmp	.Lfloat			/* 12 float */
	.org	.Lstore + 13 * APPLY_ENTRY_BYTES, 0xcc
	jmp	.Ldouble		/* 13 double */
	.org	.Lstore + 14 * APPLY_ENTRY_BYTES, 0xcc
	jmp	.Ldrain			/* 14 aggregate: the callee stored it */
	.org	.Lstore + (APPLY_LAST_KIND + 1) * APPLY_ENTRY_BYTES, 0xcc

/* A callee that returned no floating-point value leaves the storage as it
   was rather than receive an empty register. */
.Lfloat:
	x87_top_empty
	je	.Ldrain
	fstps	(%edi)
	jmp	.Ldrain
.Ldouble:
	x87_top_empty
	je	.Ldrain
	fstpl	(%edi)

.Ldrain:
	movl	$8, %ecx
.Ldrain_next:
	x87_top_empty
	je	.Lreturn
	fstp	%st(0)
	decl	%ecx
	jnz	.Ldrain_next

.Lreturn:
	movl	$1, %eax
	leal	SAVED(%ebp), %esp
	popl	%edi
	popl	%esi
	popl	%ebx
	popl	%ebp
	.cfi_def_cfa %esp, 4
	ret
	.cfi_endproc
	.size	apply, . - apply

	.section .note.GNU-stack, "", @progbits
